// Records Qt's messages (type and text) while it lives, then restores the previous handler.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    // The texts of the debug messages received so far.
    static QStringList debugLines();
    // How many messages of any other type arrived.
    static int otherMessages();
    static void clear();
};
