#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QMap>
#include <QMetaType>
#include <QString>

namespace quillpost::secretservice {

// A secret as the Secret Service transfers it, (oayays): the session it is encoded for, the
// encoding's parameters (none for "plain"), the bytes and their content type.
struct Secret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

inline QDBusArgument &operator<<(QDBusArgument &argument, const Secret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, Secret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

// An item's lookup attributes, a{ss}.
using Attributes = QMap<QString, QString>;

} // namespace quillpost::secretservice

Q_DECLARE_METATYPE(quillpost::secretservice::Secret)
