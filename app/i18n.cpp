#include "app/i18n.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <string>
#include <vector>

namespace plx {

bool installTranslations() {
    static std::unique_ptr<QTranslator> translator;
    if (translator) QCoreApplication::removeTranslator(translator.get());
    translator = std::make_unique<QTranslator>();
    // plixagram_fr.qm for fr_FR, fr_CA, ...; built into the program as resources.
    if (!translator->load(QLocale(), QStringLiteral("plixagram"), QStringLiteral("_"),
                          QStringLiteral(":/i18n"))) {
        translator.reset();
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    return true;
}

QString translated(const Message& message) {
    if (message.source == nullptr) return QString::fromStdString(message.literal);
    QString pattern = QCoreApplication::translate(kTranslationContext, message.source);
    if (message.args.empty()) return pattern;
    std::vector<std::string> args;
    args.reserve(message.args.size());
    for (const Message& a : message.args) args.push_back(translated(a).toStdString());
    return QString::fromStdString(fillArguments(pattern.toStdString(), args));
}

}  // namespace plx
