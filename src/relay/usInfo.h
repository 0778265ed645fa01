// What the UDP receiver reports about itself: a plain value, copied to whichever thread asks.
#pragma once

#include <QHostAddress>
#include <QMetaType>

struct usInfo
{
    bool receiving = false;
    quint16 port = 0;
    QHostAddress address;
    QHostAddress group;
};

Q_DECLARE_METATYPE(usInfo)
