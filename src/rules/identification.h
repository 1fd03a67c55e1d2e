#pragma once

#include <QByteArray>
#include <QString>

// What the program makes of the instrument's answer to "?\r\n".
namespace Identification {

// The model number every Zentaval puts in its identification answer.
inline constexpr char ModelNumber[] = "731942K";

// Text from instrument bytes: one character per byte, ending at the first NUL.
QString textFromInstrumentBytes(const QByteArray &bytes);

// True when a discovery probe's answer carries the model number, anywhere and
// in exactly this letter case.
bool identifiesInstrument(const QByteArray &answer);

// The port list's row of a found instrument: the port's name, ": " and the
// answer without its first (framing) and last (line end) byte.
QString discoveryRowText(const QString &portName, const QByteArray &answer);

// The instrument's identification as a row shows it after the port's name
// (and as logs and zentaval-cli name the instrument).
QString instrumentIdentification(const QByteArray &answer);

// The window title once connected: "Zentaval " and the answer without its
// first byte.
QString windowTitle(const QByteArray &answer);

} // namespace Identification
