#include "AboutWindow.h"

#include "Autostart.h"
#include "app/AppSettings.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString autostartOn = QStringLiteral(" Autostart: ON ");
const QString autostartOff = QStringLiteral(" Autostart: OFF ");

} // namespace

AboutWindow::AboutWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Orvessa Info"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setFixedSize(380, 160);

    auto* iconLabel = new QLabel;
    iconLabel->setPixmap(style()->standardPixmap(QStyle::SP_MessageBoxInformation));
    iconLabel->setAlignment(Qt::AlignTop);

    auto* textLabel = new QLabel(informationText());
    textLabel->setWordWrap(true);

    auto* upperRow = new QHBoxLayout;
    upperRow->addWidget(iconLabel);
    upperRow->addWidget(textLabel, 1);

    autostartButton = new QPushButton(QStringLiteral(" Autostart: ???? "));
    auto* okButton = new QPushButton(QStringLiteral("OK"));
    auto* lowerRow = new QHBoxLayout;
    lowerRow->addStretch();
    lowerRow->addWidget(autostartButton);
    lowerRow->addWidget(okButton);

    connect(autostartButton, &QPushButton::clicked, this, &AboutWindow::toggleState);
    connect(okButton, &QPushButton::clicked, this, &AboutWindow::hide);

    auto* layout = new QVBoxLayout;
    layout->addLayout(upperRow);
    layout->addLayout(lowerRow);
    setLayout(layout);
}

QString AboutWindow::informationText()
{
    return QStringLiteral("%1 %2: your station on the web.\n"
                          "Built with Qt 5.15.8.\n"
                          "Built with Hamlib 4.5.4.")
        .arg(AppSettings::applicationName, AppSettings::version);
}

void AboutWindow::display()
{
    autostartButton->setText(autostartEntryExists() ? autostartOn : autostartOff);
    show();
    activateWindow();
    raise();
}

void AboutWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::ControlModifier && event->key() == Qt::Key_O) {
        emit shortcutActivated();
        hide();
    }
    QDialog::keyPressEvent(event);
}

void AboutWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void AboutWindow::toggleState()
{
    // The text follows the action; the next display() shows what is really on disk.
    if (autostartEntryExists()) {
        removeAutostartEntry();
        autostartButton->setText(autostartOff);
    } else {
        createAutostartEntry();
        autostartButton->setText(autostartOn);
    }
}
