#pragma once

#include "viewmodel/texts.hpp"

#include <QCoreApplication>

// The window's texts go through the same catalogue as the view model's, in
// the context "Vellico", with the French text or a descriptive key as the
// source. The macro marks the key for lupdate and translates it.
#define VELLICO_TEXT(key) ::vellico::viewmodel::texts::translate(QT_TRANSLATE_NOOP("Vellico", key))

// The same with %1 replaced by `value` after the lookup.
#define VELLICO_TEXT_FILL(key, value)                                                              \
    ::vellico::viewmodel::texts::fill(QT_TRANSLATE_NOOP("Vellico", key), value)

// The plural form of `key` for the count `n`, %1 replaced by `n` written in
// the language's digits ("13 685 fichiers analysés").
#define VELLICO_TEXT_COUNT(key, n)                                                                 \
    ::vellico::viewmodel::texts::count(QT_TRANSLATE_NOOP("Vellico", key), n)
