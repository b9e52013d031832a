#pragma once
// A text of the station's, kept apart from its arguments: the log writes it in English and the
// window shows it in the operator's language (the English source text is the translation key).

#include <string>
#include <utility>
#include <vector>

// Marks a source text for the translation tools (lupdate reads it as QT_TRANSLATE_NOOP);
// it expands to the text itself, so plain C++ code can use it.
#define PLX_TR(context, text) text

namespace plx {

// How much an event matters, in journald's terms.
enum class Severity { Error, Warning, Notice, Info };

// Either a translatable source text with arguments, or a literal that is never translated
// (file and printer names, the print server's own messages).
struct Message {
    Message() = default;
    // A source text marked with PLX_TR; %1 .. %9 stand for the arguments.
    // NOLINTNEXTLINE(google-explicit-constructor): terse call sites are the point
    Message(const char* src, std::vector<Message> arguments = {})
        : source(src), args(std::move(arguments)) {}
    // A literal, shown as it is in every language.
    // NOLINTNEXTLINE(google-explicit-constructor)
    Message(std::string text) : source(nullptr), literal(std::move(text)) {}

    const char* source = "";
    std::string literal;  // when source is null
    std::vector<Message> args;

    // The English text with the arguments in place of %1 .. %9.
    std::string text() const;
    // The same text and arguments, compared without filling them in.
    bool operator==(const Message& other) const;
    bool empty() const { return source == nullptr ? literal.empty() : *source == '\0'; }
};

// Fills %1 .. %9 in `pattern` with the arguments; other "%" characters stay as they are, and
// the arguments' own "%" characters are never read as placeholders.
std::string fillArguments(const std::string& pattern, const std::vector<std::string>& args);

}  // namespace plx
