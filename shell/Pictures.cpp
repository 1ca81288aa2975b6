#include "shell/Pictures.h"

#include "shell/QtText.h"

#include <QFile>
#include <QFileInfo>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs FILE and size_t declared before it.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace {

// libjpeg's default handler prints to stderr and calls exit(); ours jumps back to the frame
// that started the work, with the message text.
struct TJpegErrors {
    jpeg_error_mgr Manager; // first: libjpeg hands us a pointer to it
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr Info)
{
    auto* Errors = reinterpret_cast<TJpegErrors*>(Info->err);
    (*Info->err->format_message)(Info, Errors->Message);
    std::longjmp(Errors->Jump, 1);
}

// Quiet. A warning that means pixels are missing (libjpeg would fill a truncated or damaged
// stream with grey and carry on) ends the work like an error; harmless oddities do not.
void JpegEmitMessage(j_common_ptr Info, int Level)
{
    if (Level >= 0)
        return;
    switch (Info->err->msg_code) {
    case JWRN_ADOBE_XFORM:
    case JWRN_JFIF_MAJOR:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_BOGUS_ICC:
        return;
    default:
        JpegErrorExit(Info);
    }
}

void InstallErrors(TJpegErrors& Errors)
{
    jpeg_std_error(&Errors.Manager);
    Errors.Manager.error_exit = JpegErrorExit;
    Errors.Manager.emit_message = JpegEmitMessage;
    Errors.Message[0] = '\0';
}

struct TDecodeJob {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    QImage Image;
    const char* Refusal = nullptr; // our own reason to stop, when libjpeg had none
    unsigned Width = 0;
    unsigned Height = 0;
};

// The setjmp lives here, in a frame with no object that has a destructor, so a longjmp out of
// libjpeg skips none; the image belongs to the caller's job.
bool RunDecompress(TDecodeJob& Job, jpeg_decompress_struct& Info, TJpegErrors& Errors)
{
    if (setjmp(Errors.Jump)) {
        jpeg_destroy_decompress(&Info);
        return false;
    }
    jpeg_create_decompress(&Info);
    jpeg_mem_src(&Info, Job.Data, Job.Size);
    jpeg_read_header(&Info, TRUE);

    Job.Width = Info.image_width;
    Job.Height = Info.image_height;
    if (Info.image_width > MaxPictureSide || Info.image_height > MaxPictureSide
        || int64_t(Info.image_width) * Info.image_height > MaxPicturePixels) {
        Job.Refusal = "picture too large";
        jpeg_destroy_decompress(&Info);
        return false;
    }
    QImage::Format Format;
    int Components;
    switch (Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        Info.out_color_space = JCS_GRAYSCALE;
        Format = QImage::Format_Grayscale8;
        Components = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        Info.out_color_space = JCS_RGB;
        Format = QImage::Format_RGB888;
        Components = 3;
        break;
    default:
        Job.Refusal = "unsupported colour space (only grey and colour pictures are shown)";
        jpeg_destroy_decompress(&Info);
        return false;
    }
    jpeg_start_decompress(&Info);

    // The rows are written straight into the image: make sure each one holds a whole scanline.
    if (Info.output_components != Components || Info.output_width != Info.image_width
        || Info.output_height != Info.image_height) {
        Job.Refusal = "unexpected output layout";
        jpeg_destroy_decompress(&Info);
        return false;
    }
    Job.Image = QImage(int(Info.output_width), int(Info.output_height), Format);
    if (Job.Image.isNull()) {
        Job.Refusal = "not enough memory for the picture";
        jpeg_destroy_decompress(&Info);
        return false;
    }
    if (size_t(Job.Image.bytesPerLine()) < size_t(Info.output_width) * size_t(Info.output_components)) {
        Job.Refusal = "row buffer too small";
        jpeg_destroy_decompress(&Info);
        return false;
    }
    while (Info.output_scanline < Info.output_height) {
        JSAMPROW Row = Job.Image.scanLine(int(Info.output_scanline));
        if (jpeg_read_scanlines(&Info, &Row, 1) != 1) {
            // Only a suspending source returns no rows; the memory source never should.
            Job.Refusal = "the decoder returned no data";
            jpeg_destroy_decompress(&Info);
            return false;
        }
    }
    jpeg_finish_decompress(&Info);
    jpeg_destroy_decompress(&Info);
    return true;
}

struct TEncodeJob {
    QImage Image; // Format_Grayscale8 or Format_RGB888
    int Quality = 90;
    unsigned char* Out = nullptr; // malloc'ed by libjpeg's memory destination
    unsigned long OutSize = 0;
};

// As RunDecompress: the setjmp frame holds nothing with a destructor.
bool RunCompress(TEncodeJob& Job, jpeg_compress_struct& Info, TJpegErrors& Errors)
{
    if (setjmp(Errors.Jump)) {
        jpeg_destroy_compress(&Info);
        return false;
    }
    jpeg_create_compress(&Info);
    jpeg_mem_dest(&Info, &Job.Out, &Job.OutSize);
    const bool Grey = Job.Image.format() == QImage::Format_Grayscale8;
    Info.image_width = JDIMENSION(Job.Image.width());
    Info.image_height = JDIMENSION(Job.Image.height());
    Info.input_components = Grey ? 1 : 3;
    Info.in_color_space = Grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&Info);
    jpeg_set_quality(&Info, Job.Quality, TRUE);
    jpeg_start_compress(&Info, TRUE);
    while (Info.next_scanline < Info.image_height) {
        // libjpeg's row type is not const, but compression only reads it.
        JSAMPROW Row = const_cast<JSAMPROW>(Job.Image.constScanLine(int(Info.next_scanline)));
        jpeg_write_scanlines(&Info, &Row, 1);
    }
    jpeg_finish_compress(&Info);
    jpeg_destroy_compress(&Info);
    return true;
}

std::string LowerAscii(std::string Text)
{
    for (char& C : Text)
        if (C >= 'A' && C <= 'Z')
            C = char(C - 'A' + 'a');
    return Text;
}

} // namespace

const std::vector<TPictureFormat>& PictureFormats()
{
    static const std::vector<TPictureFormat> Formats = {
        {"jpeg", "JPEG Image File", DecodeJpeg},
        {"jpg", "JPEG Image File", DecodeJpeg},
    };
    return Formats;
}

const TPictureFormat* FindPictureFormat(const std::string& Extension)
{
    std::string Wanted = LowerAscii(Extension);
    if (!Wanted.empty() && Wanted.front() == '.')
        Wanted.erase(0, 1);
    for (const TPictureFormat& Format : PictureFormats())
        if (Format.Extension == Wanted)
            return &Format;
    return nullptr;
}

QImage DecodeJpeg(const uint8_t* Data, size_t Size)
{
    TDecodeJob Job;
    Job.Data = Data;
    Job.Size = Data ? Size : 0; // no bytes: libjpeg reports the empty input itself
    jpeg_decompress_struct Info{};
    TJpegErrors Errors{};
    InstallErrors(Errors);
    Info.err = &Errors.Manager;
    if (!RunDecompress(Job, Info, Errors)) {
        std::string Text = std::string("JPEG error: ") + (Job.Refusal ? Job.Refusal : Errors.Message);
        if (Job.Refusal && Job.Width)
            Text += " (" + std::to_string(Job.Width) + " x " + std::to_string(Job.Height) + ")";
        throw EInvalidGraphic(Text);
    }
    return Job.Image;
}

std::vector<uint8_t> EncodeJpeg(const QImage& Image, int Quality)
{
    if (Image.isNull() || Image.width() > MaxPictureSide || Image.height() > MaxPictureSide)
        throw EInvalidGraphic("JPEG error: no picture to encode, or one too large");
    TEncodeJob Job;
    Job.Image = Image.format() == QImage::Format_Grayscale8 ? Image
                                                            : Image.convertToFormat(QImage::Format_RGB888);
    Job.Quality = Quality < 1 ? 1 : Quality > 100 ? 100 : Quality;
    jpeg_compress_struct Info{};
    TJpegErrors Errors{};
    InstallErrors(Errors);
    Info.err = &Errors.Manager;
    const bool Done = RunCompress(Job, Info, Errors);
    std::vector<uint8_t> Bytes;
    if (Done)
        Bytes.assign(Job.Out, Job.Out + Job.OutSize);
    std::free(Job.Out);
    if (!Done)
        throw EInvalidGraphic(std::string("JPEG error: ") + Errors.Message);
    return Bytes;
}

QImage LoadPicture(const QString& PathOrResource)
{
    const std::string Name = ToStdString(PathOrResource);
    const std::string Extension = ToStdString(QFileInfo(PathOrResource).suffix());
    const TPictureFormat* Format = FindPictureFormat(Extension);
    if (!Format)
        throw EInvalidGraphic("Unknown picture file extension (." + Extension + ")");

    QFile File(PathOrResource);
    if (!File.open(QIODevice::ReadOnly))
        throw EPictureFileError("Cannot open picture file " + Name + ": " + ToStdString(File.errorString()));
    if (File.size() > MaxPictureFileSize)
        throw EPictureFileError("Picture file too large: " + Name);
    const QByteArray Bytes = File.readAll();
    if (File.error() != QFileDevice::NoError)
        throw EPictureFileError("Cannot read picture file " + Name + ": " + ToStdString(File.errorString()));
    return Format->Decoder(reinterpret_cast<const uint8_t*>(Bytes.constData()), size_t(Bytes.size()));
}
