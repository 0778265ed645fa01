#include "SettingsWindow.h"

#include "AboutWindow.h"
#include "app/AppSettings.h"
#include "app/Log.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>

namespace {

// Whole numbers 1024..65535 without leading zeros; prefixes of them pass while typing.
QRegularExpression portPattern()
{
    return QRegularExpression(QStringLiteral(R"(^(102[4-9]|10[3-9]\d|1[1-9]\d{2}|[2-9]\d{3}|[1-5]\d{4}|6[0-4]\d{3})"
                                             R"(|65[0-4]\d{2}|655[0-2]\d|6553[0-5])$)"));
}

} // namespace

SettingsWindow::SettingsWindow(QWidget* parent)
    : QMainWindow(parent)
    , form(std::make_unique<Form>())
{
    setupForm();
    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/appicon")));

    portValidator = new QRegularExpressionValidator(portPattern(), this);
    form->portValue->setValidator(portValidator);
    form->sharePortValue->setValidator(portValidator);
    loadStoredSettings();

    connect(form->saveBtn, &QPushButton::clicked, this, &SettingsWindow::saveSettings);
    connect(form->actionAbout_2, &QAction::triggered, this, &SettingsWindow::about);

    move(screen()->geometry().center() - frameGeometry().center());
}

SettingsWindow::~SettingsWindow() = default;

QValidator::State SettingsWindow::checkPort(QString text)
{
    int position = 0;
    return QRegularExpressionValidator(portPattern()).validate(text, position);
}

void SettingsWindow::setupForm()
{
    setObjectName(QStringLiteral("SettingsWindow"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setWindowTitle(QStringLiteral("Orvessa Settings"));
    setLocale(QLocale(QLocale::English, QLocale::UnitedStates));

    form->actionAbout = new QAction(QStringLiteral("About"), this);
    form->actionAbout->setObjectName(QStringLiteral("actionAbout"));
    form->actionAbout_1 = new QAction(QStringLiteral("About"), this);
    form->actionAbout_1->setObjectName(QStringLiteral("actionAbout_1"));
    form->actionAbout_2 = new QAction(QStringLiteral("About"), this);
    form->actionAbout_2->setObjectName(QStringLiteral("actionAbout_2"));

    form->centralwidget = new QWidget(this);
    form->centralwidget->setObjectName(QStringLiteral("centralwidget"));

    form->label = new QLabel(form->centralwidget);
    form->label->setObjectName(QStringLiteral("label"));
    form->label->setGeometry(20, 10, 231, 61);
    form->label->setTextFormat(Qt::PlainText);
    form->label->setWordWrap(true);
    form->label->setText(QStringLiteral("Orvessa server port used to communicate with the web browser."));

    form->portLabel = new QLabel(form->centralwidget);
    form->portLabel->setObjectName(QStringLiteral("portLabel"));
    form->portLabel->setGeometry(20, 90, 91, 25);
    form->portLabel->setTextFormat(Qt::PlainText);
    form->portLabel->setText(QStringLiteral("Server Port"));

    form->portValue = new QLineEdit(form->centralwidget);
    form->portValue->setObjectName(QStringLiteral("portValue"));
    form->portValue->setGeometry(120, 90, 110, 25);
    form->portValue->setMinimumSize(110, 25);
    form->portValue->setMaximumSize(110, 25);
    form->portValue->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    form->portValue->setMaxLength(5);
    form->portValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    form->shareRadios = new QCheckBox(form->centralwidget);
    form->shareRadios->setObjectName(QStringLiteral("shareRadios"));
    form->shareRadios->setText(QStringLiteral("Let programs on this computer use the connected radios"));
    // As wide as its text in the desktop's font, the window with it.
    const int wide = qMax(430, form->shareRadios->sizeHint().width());
    const int windowWidth = wide + 40;
    form->shareRadios->setGeometry(20, 130, wide, 25);

    form->sharePortLabel = new QLabel(form->centralwidget);
    form->sharePortLabel->setObjectName(QStringLiteral("sharePortLabel"));
    form->sharePortLabel->setGeometry(20, 165, 91, 25);
    form->sharePortLabel->setTextFormat(Qt::PlainText);
    form->sharePortLabel->setText(QStringLiteral("First Port"));

    form->sharePortValue = new QLineEdit(form->centralwidget);
    form->sharePortValue->setObjectName(QStringLiteral("sharePortValue"));
    form->sharePortValue->setGeometry(120, 165, 110, 25);
    form->sharePortValue->setMaxLength(5);
    form->sharePortValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    form->sharedRadios = new QLabel(form->centralwidget);
    form->sharedRadios->setObjectName(QStringLiteral("sharedRadios"));
    form->sharedRadios->setGeometry(20, 200, wide, 90);
    form->sharedRadios->setTextFormat(Qt::PlainText);
    form->sharedRadios->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    showSharedRadios({});

    form->saveBtn = new QPushButton(form->centralwidget);
    form->saveBtn->setObjectName(QStringLiteral("saveBtn"));
    form->saveBtn->setGeometry((windowWidth - 91) / 2, 300, 91, 25);
    form->saveBtn->setText(QStringLiteral("Save"));

    setCentralWidget(form->centralwidget);

    form->menubar = new QMenuBar(this);
    form->menubar->setObjectName(QStringLiteral("menubar"));
    form->menubar->setGeometry(0, 0, windowWidth, 21);
    setMenuBar(form->menubar);
    resize(windowWidth, 340);
    setMinimumSize(windowWidth, 340);
    setMaximumSize(windowWidth, 340);
}

void SettingsWindow::loadStoredSettings()
{
    form->portValue->setText(settings.value(AppSettings::serverPortKey, AppSettings::defaultServerPort).toString());
    form->shareRadios->setChecked(
        settings.value(AppSettings::shareRadiosKey, AppSettings::defaultShareRadios).toBool());
    form->sharePortValue->setText(settings.value(AppSettings::sharePortKey, AppSettings::defaultSharePort).toString());
}

void SettingsWindow::showSharedRadios(const QStringList& radios)
{
    if (radios.isEmpty()) {
        form->sharedRadios->setText(QStringLiteral("No radio is shared."));
        return;
    }
    // One radio a line, as many as the window has room for; the log names each one.
    constexpr int shown = 4;
    QStringList lines {QStringLiteral("Shared:")};
    lines += radios.mid(0, radios.size() > shown ? shown - 1 : shown);
    if (radios.size() > shown) {
        lines << QStringLiteral("and %1 more (the log names each)").arg(radios.size() - (shown - 1));
    }
    form->sharedRadios->setText(lines.join(QLatin1Char('\n')));
}

void SettingsWindow::display()
{
    // An edit that was never saved must not come back as if it were the setting.
    if (isHidden()) {
        loadStoredSettings();
    }
    show();
    activateWindow();
}

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void SettingsWindow::saveSettings()
{
    const QString text = form->portValue->text();
    const QString shareText = form->sharePortValue->text();
    if (checkPort(text) == QValidator::Acceptable && checkPort(shareText) == QValidator::Acceptable) {
        LOG("{}\n", text);
        settings.setValue(AppSettings::serverPortKey, static_cast<int>(text.toUShort(nullptr, 10)));
        settings.setValue(AppSettings::shareRadiosKey, form->shareRadios->isChecked());
        settings.setValue(AppSettings::sharePortKey, static_cast<int>(shareText.toUShort(nullptr, 10)));
        // The worker reads the port at once; a store that could not be written would only lose it at the next start.
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            LOG("Could not write the settings to {}\n", settings.fileName());
        }
        emit settingsUpdated();
        hide();
        return;
    }
    LOG("Invalid port!\n");
    QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("Invalid port number!"));
}

void SettingsWindow::about()
{
    QMessageBox::information(nullptr, QStringLiteral("About"), AboutWindow::informationText());
}
