#pragma once

#include "contacts/AddressBookSource.h"

#include <QByteArray>

namespace lf {

// Reads vCard 3.0 and 4.0 text (one or many cards) into people: N, FN, NICKNAME, ORG and every
// EMAIL. Malformed cards are skipped; nothing in the text can make the reader fail.
QList<AddressBookPerson> readVCards(const QByteArray &text);

// Every *.vcf file directly inside `folder`, in name order; unreadable files are skipped.
QList<AddressBookPerson> readVCardFolder(const QString &folder);

} // namespace lf
