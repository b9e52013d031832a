#pragma once
// The window's language: the station's messages translated for the operator (French when the
// locale is French, English otherwise). The log stays English; the original station's fixed
// texts are never translated.

#include <QString>

#include "common/message.h"

namespace plx {

// Every translatable text of the station has this context (see PLX_TR).
inline constexpr const char* kTranslationContext = "Station";

// Loads the translation for the default locale (QLocale()), replacing one loaded before.
// False when the locale has none (its texts stay English).
bool installTranslations();

// The message in the loaded language: sources translated, literals as they are, arguments
// translated the same way and then put in place.
QString translated(const Message& message);

}  // namespace plx
