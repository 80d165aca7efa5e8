#pragma once
// QR codes for the pairing sheet (libqrencode, byte mode, error correction M): one pixel per
// module, black on white, no quiet zone; the view scales it without smoothing.

#include <string>

#include <QImage>

namespace velk::QRCodeImage {

// A null image when the payload does not fit a QR code.
QImage make(const std::string& payload);
bool canMake(const std::string& payload);

} // namespace velk::QRCodeImage
