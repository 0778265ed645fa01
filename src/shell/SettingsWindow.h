// The window where the user sets the server port and whether the desktop programs may use the connected radios; a
// save applies both at once. Main thread.
#pragma once

#include <QMainWindow>
#include <QSettings>
#include <QValidator>

#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QRegularExpressionValidator;

class SettingsWindow : public QMainWindow
{
    Q_OBJECT

signals:
    void settingsUpdated();

public slots:
    void display();
    // Which radio is on which port, as the service says, one a line.
    void showSharedRadios(const QStringList& radios);

public:
    explicit SettingsWindow(QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // How the port field judges a text: a port it saves, the start of one while typing, or a keystroke refused.
    static QValidator::State checkPort(QString text);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void saveSettings();
    void about();

private:
    struct Form
    {
        QWidget* centralwidget;
        QLabel* label;
        QLabel* portLabel;
        QLineEdit* portValue;
        QCheckBox* shareRadios;
        QLabel* sharePortLabel;
        QLineEdit* sharePortValue;
        QLabel* sharedRadios;
        QPushButton* saveBtn;
        QMenuBar* menubar;
        QAction* actionAbout;
        QAction* actionAbout_1;
        QAction* actionAbout_2;
    };

    void setupForm();
    void loadStoredSettings();

    std::unique_ptr<Form> form;
    QSettings settings;
    QRegularExpressionValidator* portValidator;
};
