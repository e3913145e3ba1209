// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainSettings.h"

#include "app/MainLayout.h"
#include "platform/SettingsStore.h"
#include "ui/Controls.h"
#include "ui/WindowPlacement.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QWidget>
#include <array>

namespace mainsettings {

namespace {

enum class Kind { Left, Top, Check, Text, Option };

using C = SettingsControls;

struct Key {
    const char* key = nullptr;
    Kind kind = Kind::Text;
    const char* fallback = nullptr;
    QCheckBox* C::*check = nullptr; // Kind::Check
    QLineEdit* C::*text = nullptr;  // Kind::Text
    bool Options::*option = nullptr;
};

// Keys in the order start-up reads them and the save writes them. Keys added later go at the end, so that
// a file written by an older version reads as it did.
constexpr std::array<Key, 24> Table{{
    {"LEFT", Kind::Left, "300"},
    {"TOP", Kind::Top, "300"},
    {"CHECK1", Kind::Check, "1", &C::Check1},
    {"CHECK2", Kind::Check, "1", &C::Check2},
    {"CHECK3", Kind::Check, "1", &C::Check3},
    {"FILTERTEXT1", Kind::Text, "", nullptr, &C::FilterText1},
    {"FILTERTEXT2", Kind::Text, "", nullptr, &C::FilterText2},
    {"FILTERTEXT3", Kind::Text, "", nullptr, &C::FilterText3},
    {"FILTERTEXT4", Kind::Text, "", nullptr, &C::FilterText4},
    {"FILTERTEXT5", Kind::Text, "", nullptr, &C::FilterText5},
    {"FILTERTEXT6", Kind::Text, "", nullptr, &C::FilterText6},
    {"FILTERTEXT7", Kind::Text, "", nullptr, &C::FilterText7},
    {"FILTERTEXT8", Kind::Text, "", nullptr, &C::FilterText8},
    {"TEXT4", Kind::Text, "", nullptr, &C::Text4},
    {"TEXT5", Kind::Text, "", nullptr, &C::Text5},
    {"TEXT6", Kind::Text, "", nullptr, &C::Text6},
    {"TEXT7", Kind::Text, "", nullptr, &C::Text7},
    {"TEXT8", Kind::Text, "", nullptr, &C::Text8},
    {"TXTIMEHOUR", Kind::Check, "0", &C::OnHour},
    {"TXQUARTERHOUR", Kind::Check, "0", &C::QuarterHour},
    {"TXHALFHOUR", Kind::Check, "0", &C::HalfHour},
    {"CONDISC", Kind::Check, "1", &C::ConDisc},
    {"CALLSIGN", Kind::Text, "", nullptr, &C::Callsign},
    {"HOLDSPEECH", Kind::Option, "1", nullptr, nullptr, &Options::holdSpeech},
}};

int fallbackValue(const Key& k) {
    return QString::fromLatin1(k.fallback).toInt();
}

bool optionValue(const QString& text, const Key& k) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return (ok && (value == 0 || value == 1)) ? value == 1 : fallbackValue(k) == 1;
}

} // namespace

Options load(QWidget* window, const SettingsControls& ui, const SettingsStore& store) {
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
            controls::setCheckValue(ui.*k.check, placement::parseCheckValue(value).value_or(fallbackValue(k)));
            break;
        case Kind::Text:
            (ui.*k.text)->setText(value);
            break;
        case Kind::Option:
            options.*k.option = optionValue(value, k);
            break;
        }
    }
    return options;
}

bool save(const QWidget* window, const SettingsControls& ui, const Options& options, SettingsStore& store) {
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
            value = QString::number(controls::checkValue(ui.*k.check));
            break;
        case Kind::Text:
            value = (ui.*k.text)->text();
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
