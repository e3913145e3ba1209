// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainSettings.h"

#include "Controls.h"
#include "SettingsStore.h"
#include "WindowPlacement.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QWidget>
#include <array>

namespace mainsettings {

namespace {

enum class Kind { Left, Top, Check, Text, Option };

struct Key {
    const char* key;
    const char* control; // object name of the control; empty for the window's edges and the options
    Kind kind;
    const char* fallback;
    bool Options::*option = nullptr;
};

// Keys in the order start-up reads them and the save writes them. Keys added later go at the end, so that
// a file written by an older version reads as it did.
constexpr std::array<Key, 24> Table{{
    {"LEFT", "", Kind::Left, "300"},
    {"TOP", "", Kind::Top, "300"},
    {"CHECK1", "Check1", Kind::Check, "1"},
    {"CHECK2", "Check2", Kind::Check, "1"},
    {"CHECK3", "Check3", Kind::Check, "1"},
    {"FILTERTEXT1", "FilterText1", Kind::Text, ""},
    {"FILTERTEXT2", "FilterText2", Kind::Text, ""},
    {"FILTERTEXT3", "FilterText3", Kind::Text, ""},
    {"FILTERTEXT4", "FilterText4", Kind::Text, ""},
    {"FILTERTEXT5", "FilterText5", Kind::Text, ""},
    {"FILTERTEXT6", "FilterText6", Kind::Text, ""},
    {"FILTERTEXT7", "FilterText7", Kind::Text, ""},
    {"FILTERTEXT8", "FilterText8", Kind::Text, ""},
    {"TEXT4", "Text4", Kind::Text, ""},
    {"TEXT5", "Text5", Kind::Text, ""},
    {"TEXT6", "Text6", Kind::Text, ""},
    {"TEXT7", "Text7", Kind::Text, ""},
    {"TEXT8", "Text8", Kind::Text, ""},
    {"TXTIMEHOUR", "OnHour", Kind::Check, "0"},
    {"TXQUARTERHOUR", "QuarterHour", Kind::Check, "0"},
    {"TXHALFHOUR", "HalfHour", Kind::Check, "0"},
    {"CONDISC", "ConDisc", Kind::Check, "1"},
    {"CALLSIGN", "Callsign", Kind::Text, ""},
    {"HOLDSPEECH", "", Kind::Option, "1", &Options::holdSpeech},
}};

template <typename W> W* control(const QWidget* window, const Key& k) {
    return window->findChild<W*>(QString::fromLatin1(k.control));
}

int fallbackValue(const Key& k) {
    return QString::fromLatin1(k.fallback).toInt();
}

bool optionValue(const QString& text, const Key& k) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return (ok && (value == 0 || value == 1)) ? value == 1 : fallbackValue(k) == 1;
}

} // namespace

Options load(QWidget* window, const SettingsStore& store) {
    Options options;
    QString left;
    for (const Key& k : Table) {
        const QString value =
            store.read(placement::Section, QString::fromLatin1(k.key), QString::fromLatin1(k.fallback));
        switch (k.kind) {
        case Kind::Left:
            left = value;
            break;
        case Kind::Top:
            options.position = placement::StoredPosition(left, value);
            // A position saved on a screen that is no longer attached must not leave the window out of reach.
            window->move(placement::onAttachedScreen(options.position.pixels(), window->frameGeometry().size()));
            break;
        case Kind::Check:
            controls::setCheckValue(control<QCheckBox>(window, k),
                                    placement::parseCheckValue(value).value_or(fallbackValue(k)));
            break;
        case Kind::Text:
            control<QLineEdit>(window, k)->setText(value);
            break;
        case Kind::Option:
            options.*k.option = optionValue(value, k);
            break;
        }
    }
    return options;
}

bool save(const QWidget* window, const Options& options, SettingsStore& store) {
    SettingsStore::Entries entries;
    entries.reserve(static_cast<qsizetype>(Table.size()));
    for (const Key& k : Table) {
        QString value;
        switch (k.kind) {
        case Kind::Left:
            value = options.position.leftText(window->pos());
            break;
        case Kind::Top:
            value = options.position.topText(window->pos());
            break;
        case Kind::Check:
            value = QString::number(controls::checkValue(control<QCheckBox>(window, k)));
            break;
        case Kind::Text:
            value = control<QLineEdit>(window, k)->text();
            break;
        case Kind::Option:
            value = options.*k.option ? QStringLiteral("1") : QStringLiteral("0");
            break;
        }
        entries.append({QString::fromLatin1(k.key), value});
    }
    return store.writeAll(placement::Section, entries);
}

} // namespace mainsettings
