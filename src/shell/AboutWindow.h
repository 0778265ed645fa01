// The always-on-top information dialog with the autostart switch; its Ctrl+O opens the settings. Main thread.
#pragma once

#include <QDialog>

class QPushButton;

class AboutWindow : public QDialog
{
    Q_OBJECT

signals:
    void shortcutActivated();

public slots:
    void display();

public:
    explicit AboutWindow(QWidget* parent = nullptr);

    // The three lines that name the program and what it was built with.
    static QString informationText();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void toggleState();

private:
    QPushButton* autostartButton;
};
