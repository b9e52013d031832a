#include "app/file_list.h"

#include <QBrush>
#include <QColor>
#include <QHash>
#include <QStyledItemDelegate>

#include "app/i18n.h"

namespace plx {
namespace {

constexpr int kIdRole = Qt::UserRole + 1;

QString fromStd(const std::string& s) { return QString::fromStdString(s); }

// Rows asking for no width of their own are laid out as wide as the list, so the view cuts
// the text at its edge.
class FitToWidth : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {1, QStyledItemDelegate::sizeHint(option, index).height()};
    }
};

// Trouble in red, jobs on their way in green, the rest as the list draws it.
QBrush colourOf(FileState state) {
    switch (state) {
        case FileState::Bad:
        case FileState::SetAside:
            return QBrush(QColor(0xb3, 0x26, 0x1e));
        case FileState::Printing:
        case FileState::Held:
            return QBrush(QColor(0x1e, 0x6b, 0x34));
        case FileState::Changing:
        case FileState::Retrying:
            return QBrush(QColor(0x8a, 0x5a, 0x00));
        case FileState::Waiting:
        case FileState::Shown:
            break;
    }
    return {};
}

void fill(QListWidgetItem& item, const FileRow& row) {
    const QString name = fromStd(row.name);
    const QString word = stateWord(row.state);
    const QString reason = translated(row.reason);
    // The reason usually says the state itself ("waiting: ..."); the bare word when there is none.
    const QString text = name + QStringLiteral("  —  ") + (reason.isEmpty() ? word : reason);
    const QString tip = name + QLatin1Char('\n') + word +
                        (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    if (item.text() != text) item.setText(text);
    if (item.toolTip() != tip) item.setToolTip(tip);
    if (item.data(Qt::UserRole).toString() != name) item.setData(Qt::UserRole, name);
    const QBrush colour = colourOf(row.state);
    if (item.foreground() != colour) item.setForeground(colour);
}

}  // namespace

void fitRowsToWidth(QListWidget& list) {
    list.setItemDelegate(new FitToWidth(&list));
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list.setTextElideMode(Qt::ElideRight);
    list.setUniformItemSizes(true);
}

QString stateWord(FileState state) {
    switch (state) {
        case FileState::Waiting:
            return translated(PLX_TR("Station", "waiting"));
        case FileState::Printing:
            return translated(PLX_TR("Station", "printing"));
        case FileState::Held:
            return translated(PLX_TR("Station", "held at the printer"));
        case FileState::SetAside:
            return translated(PLX_TR("Station", "set aside"));
        case FileState::Bad:
            return translated(PLX_TR("Station", "bad file"));
        case FileState::Changing:
            return translated(PLX_TR("Station", "changing"));
        case FileState::Retrying:
            return translated(PLX_TR("Station", "retrying"));
        case FileState::Shown:
            return translated(PLX_TR("Station", "shown only"));
    }
    return {};
}

void showFileRows(QListWidget& list, const std::vector<FileRow>& rows) {
    // Items of rows that are gone go first, so that the ones kept can be found by position.
    QHash<QString, int> wanted;
    for (std::size_t i = 0; i < rows.size(); ++i) wanted.insert(fromStd(rows[i].id), int(i));
    for (int i = list.count() - 1; i >= 0; --i)
        if (!wanted.contains(list.item(i)->data(kIdRole).toString())) delete list.takeItem(i);
    for (int i = 0; i < int(rows.size()); ++i) {
        const FileRow& row = rows[std::size_t(i)];
        const QString id = fromStd(row.id);
        QListWidgetItem* item = list.item(i);
        if (item == nullptr || item->data(kIdRole).toString() != id) {
            // A row that moved is taken from further down; a new one is made.
            int from = -1;
            for (int j = i + 1; j < list.count() && from < 0; ++j)
                if (list.item(j)->data(kIdRole).toString() == id) from = j;
            item = from >= 0 ? list.takeItem(from) : new QListWidgetItem;
            item->setData(kIdRole, id);
            list.insertItem(i, item);
        }
        fill(*item, row);
    }
}

}  // namespace plx
