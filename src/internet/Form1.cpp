// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/Form1.h"

#include "internet/Form1Layout.h"
#include "internet/InternetRules.h"
#include "platform/QrzAddress.h"
#include "ui/Controls.h"
#include "ui/WindowPlacement.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

Form1::Form1(SettingsStore& settings, std::unique_ptr<EchoLinkClient> echoLink, const BrowserFactory& browsers)
    : settings_(settings), echoLink_(std::move(echoLink)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Internet"));
    const internet::Form1Controls ui = internet::buildForm1Layout(this);
    text1_ = ui.Text1;
    check9_ = ui.Check9;
    label2_ = ui.Label2;
    if (browsers) {
        browser_ = browsers(ui.PicFrame, internet::browserGeometry());
    }

    const std::pair<QPushButton*, void (Form1::*)()> buttons[] = {
        {ui.Command1, &Form1::Command1_Click},   {ui.Command2, &Form1::Command2_Click},
        {ui.Command3, &Form1::Command3_Click},   {ui.Command9, &Form1::Command9_Click},
        {ui.Command10, &Form1::Command10_Click}, {ui.Command11, &Form1::Command11_Click}};
    for (const auto& [button, handler] : buttons) {
        connect(button, &QPushButton::clicked, this, handler);
    }
    // Escape does what the close box does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName(QStringLiteral("CloseKey"));
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    using placement::Section;
    position_ = placement::StoredPosition(settings_.read(Section, QStringLiteral("LEFT"), QStringLiteral("300")),
                                          settings_.read(Section, QStringLiteral("TOP"), QStringLiteral("300")));
    // A position from another screen setup must not leave the window where nobody can reach it.
    move(placement::onAttachedScreen(position_.pixels(), frameGeometry().size()));

    const auto check =
        placement::parseCheckValue(settings_.read(Section, QStringLiteral("CHECK9"), QStringLiteral("1")));
    controls::setCheckValue(check9_, check.value_or(1));

    bool available = true;
    if (echoLink_) {
        connect(echoLink_.get(), &EchoLinkClient::Closing, this, &Form1::EchoLink_Closing);
        connect(echoLink_.get(), &EchoLinkClient::availabilityChanged, this, &Form1::EchoLink_AvailabilityChanged);
        available = echoLink_->isAvailable();
        if (const CallResult<QString> own = echoLink_->OwnCallsign()) {
            ownCallsign_ = own.value;
        }
    }
    showCaption(available);
}

void Form1::showCaption(bool stationAvailable) {
    setWindowTitle(internet::windowCaption(ownCallsign_) +
                   (stationAvailable ? QString() : QStringLiteral("   (EchoLink not available)")));
}

void Form1::EchoLink_AvailabilityChanged(bool available) {
    // The station that answers now may be another one, with another callsign.
    if (available) {
        if (const CallResult<QString> own = echoLink_->OwnCallsign()) {
            ownCallsign_ = own.value;
        }
    }
    showCaption(available);
}

void Form1::setLastConnectedNode(const QString& text) {
    controls::setLabelValue(label2_, text);
}

bool Form1::showQrzInfo() const {
    return controls::checkValue(check9_) == 1;
}

void Form1::navigate(const QString& address) {
    if (browser_) {
        browser_->navigate(address);
    }
}

bool Form1::SaveData2() {
    return settings_.writeAll(placement::Section,
                              {{QStringLiteral("LEFT"), position_.leftText(pos())},
                               {QStringLiteral("TOP"), position_.topText(pos())},
                               {QStringLiteral("CHECK9"), QString::number(controls::checkValue(check9_))}});
}

void Form1::Command1_Click() {
    navigate(qrzLookupAddress(internet::qrzRoot(), text1_->text()));
}

void Form1::Command2_Click() {
    navigate(internet::eqslHome());
}

void Form1::Command3_Click() {
    navigate(internet::addonsHome());
}

void Form1::Command9_Click() {
    navigate(internet::echoLinkHome());
}

void Form1::Command10_Click() {
    navigate(internet::echoLinkLogins());
}

void Form1::Command11_Click() {
    navigate(internet::echoLinkProxyList());
}

void Form1::EchoLink_Closing() {
    Q_EMIT closingRequested();
}

void Form1::showEvent(QShowEvent* event) {
    // The page is read by screen readers only when the engine builds its accessibility tree; the engine reads
    // its flags once, when it starts, which is after the first show.
    if (QAccessible::isActive()) {
        internet::enableWebAccessibility();
    }
    QWidget::showEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    SaveData2();
    event->accept();
    Q_EMIT closedByUser();
}
