// Pictures the windows show: a small table of picture formats by file extension, and the JPEG
// codec behind it (libjpeg, so the program needs no Qt image plugin for its own pictures).
#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The picture's bytes are not a picture we can show (damaged, truncated, wrong format, too
// large), or its extension names no format we know.
class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The picture file could not be read.
class EPictureFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Turns a whole picture file's bytes into an image. Throws EInvalidGraphic.
using TPictureDecoder = QImage (*)(const uint8_t* Data, size_t Size);

struct TPictureFormat {
    std::string Extension; // lower case, without the dot
    std::string Description;
    TPictureDecoder Decoder;
};

// Larger pictures are refused before any pixel memory is taken.
constexpr int MaxPictureSide = 16384;
constexpr int64_t MaxPicturePixels = 25'000'000;
// Picture files larger than this are refused before they are read.
constexpr int64_t MaxPictureFileSize = 64 * 1024 * 1024;

// Every registered format, in registration order: "jpeg" and "jpg", "JPEG Image File".
const std::vector<TPictureFormat>& PictureFormats();

// The format registered for Extension (with or without a leading dot, any case); nullptr when
// none is.
const TPictureFormat* FindPictureFormat(const std::string& Extension);

// Decodes a baseline or progressive JPEG into Format_Grayscale8 (grey pictures) or
// Format_RGB888 (colour ones). Throws EInvalidGraphic "JPEG error: ..." on damaged or truncated
// data, an unsupported colour space (CMYK) or a picture beyond the size limits.
QImage DecodeJpeg(const uint8_t* Data, size_t Size);

// Encodes Image as a JPEG of the given quality (1..100): grey images as grey, others as colour.
// Throws EInvalidGraphic.
std::vector<uint8_t> EncodeJpeg(const QImage& Image, int Quality);

// Reads a picture from a file or a Qt resource (":/pictures/Splash.jpg") and decodes it with
// the format its extension names. Throws EInvalidGraphic (unknown extension "Unknown picture
// file extension (.xyz)", bad data) or EPictureFileError (missing, unreadable, too large).
QImage LoadPicture(const QString& PathOrResource);
