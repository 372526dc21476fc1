// JPEG (libjpeg-turbo), PNG (libpng's simplified reader) and WebP (libwebp) into RGBA.
#include "vorn_ui/image_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <webp/decode.h>

#include <fmt/core.h>

namespace vorn_ui::image_decode {

namespace {

bool starts_with(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> prefix,
                 std::size_t at = 0) {
    if (bytes.size() < at + prefix.size()) return false;
    std::size_t i = at;
    for (std::uint8_t b : prefix) {
        if (bytes[i++] != b) return false;
    }
    return true;
}

std::unexpected<DecodeError> error(DecodeErrorKind kind, std::string message) {
    return std::unexpected(DecodeError{kind, std::move(message)});
}

bool within(std::uint32_t w, std::uint32_t h, const DecodeLimits& limits) {
    return w <= limits.max_dimension && h <= limits.max_dimension &&
           static_cast<std::uint64_t>(w) * h * 4 <= limits.max_bytes;
}

std::expected<void, DecodeError> check_size(std::uint32_t w, std::uint32_t h, const DecodeLimits& limits) {
    if (w == 0 || h == 0) return error(DecodeErrorKind::Corrupt, "the picture has no pixels");
    if (w > limits.max_dimension || h > limits.max_dimension) {
        return error(DecodeErrorKind::TooLarge, fmt::format("{}x{} is larger than {} pixels a side", w, h,
                                                            limits.max_dimension));
    }
    if (!within(w, h, limits)) {
        return error(DecodeErrorKind::TooLarge,
                     fmt::format("{}x{} would take more than {} bytes decoded", w, h, limits.max_bytes));
    }
    return {};
}

// ---- JPEG ----

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool hit_end = false;
    char message[JMSG_LENGTH_MAX] = {};
};

void jpeg_on_error(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->jump, 1);
}

void jpeg_on_message(j_common_ptr info, int level) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    // A warning about the data ending early means the picture is incomplete: libjpeg
    // would otherwise pad it with grey and call it a success.
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) err->hit_end = true;
}

enum class JpegRun { Done, Failed, TooLarge };

// Runs the decoder; every object it changes lives in the caller's frame, so nothing
// is left indeterminate when libjpeg jumps back on an error.
JpegRun jpeg_run(jpeg_decompress_struct& cinfo, JpegErrorManager& err, Rgba& out, bool& cmyk,
                 std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    if (setjmp(err.jump) != 0) return JpegRun::Failed;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || !within(cinfo.image_width, cinfo.image_height, limits)) {
        return JpegRun::TooLarge;
    }
    cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    const std::size_t row_bytes = static_cast<std::size_t>(out.width) * 4;
    while (cinfo.output_scanline < cinfo.output_height && !err.hit_end) {
        JSAMPROW row = out.pixels.data() + row_bytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    if (err.hit_end) return JpegRun::Failed;
    jpeg_finish_decompress(&cinfo);
    return JpegRun::Done;
}

std::expected<Rgba, DecodeError> decode_jpeg(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = jpeg_on_error;
    err.base.emit_message = jpeg_on_message;
    Rgba out;
    bool cmyk = false;
    const JpegRun run = jpeg_run(cinfo, err, out, cmyk, bytes, limits);
    const std::uint32_t width = cinfo.image_width, height = cinfo.image_height;
    const bool inverted = cinfo.saw_Adobe_marker;
    jpeg_destroy_decompress(&cinfo);
    if (run == JpegRun::TooLarge) {
        if (auto ok = check_size(width, height, limits); !ok) return std::unexpected(ok.error());
    }
    if (run == JpegRun::Failed) {
        if (err.hit_end) return error(DecodeErrorKind::Truncated, "JPEG: the data ends before the picture");
        return error(DecodeErrorKind::Corrupt, fmt::format("JPEG: {}", err.message));
    }
    if (cmyk) {
        // Adobe writes inverted CMYK; multiply out to RGB.
        for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
            unsigned c = out.pixels[i], m = out.pixels[i + 1], y = out.pixels[i + 2], k = out.pixels[i + 3];
            if (!inverted) {
                c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            }
            out.pixels[i] = static_cast<std::uint8_t>(c * k / 255);
            out.pixels[i + 1] = static_cast<std::uint8_t>(m * k / 255);
            out.pixels[i + 2] = static_cast<std::uint8_t>(y * k / 255);
            out.pixels[i + 3] = 255;
        }
    }
    return out;
}

// ---- PNG ----

std::expected<Rgba, DecodeError> decode_png(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    auto fail = [&](std::string_view stage) -> std::unexpected<DecodeError> {
        const std::string message = image.message;
        png_image_free(&image);
        const bool truncated = message.find("end of data") != std::string::npos ||
                               message.find("runcat") != std::string::npos ||
                               message.find("Not enough") != std::string::npos;
        return error(truncated ? DecodeErrorKind::Truncated : DecodeErrorKind::Corrupt,
                     fmt::format("PNG {}: {}", stage, message));
    };
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) return fail("header");
    if (auto ok = check_size(image.width, image.height, limits); !ok) {
        png_image_free(&image);
        return std::unexpected(ok.error());
    }
    image.format = PNG_FORMAT_RGBA;
    Rgba out;
    out.width = image.width;
    out.height = image.height;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) == 0) return fail("data");
    png_image_free(&image);
    return out;
}

// ---- WebP ----

std::expected<Rgba, DecodeError> decode_webp(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    WebPBitstreamFeatures features{};
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return error(DecodeErrorKind::Truncated, "WebP: header cut short");
    if (status != VP8_STATUS_OK) return error(DecodeErrorKind::Corrupt, fmt::format("WebP: status {}", int(status)));
    if (features.has_animation) return error(DecodeErrorKind::UnknownFormat, "WebP: animations are not shown");
    if (features.width <= 0 || features.height <= 0) return error(DecodeErrorKind::Corrupt, "WebP: no pixels");
    const auto w = static_cast<std::uint32_t>(features.width);
    const auto h = static_cast<std::uint32_t>(features.height);
    if (auto ok = check_size(w, h, limits); !ok) return std::unexpected(ok.error());

    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) return error(DecodeErrorKind::Corrupt, "WebP: decoder version");
    Rgba out;
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<std::size_t>(w) * h * 4);
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.pixels.data();
    config.output.u.RGBA.stride = static_cast<int>(w * 4);
    config.output.u.RGBA.size = out.pixels.size();
    const VP8StatusCode decoded = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (decoded == VP8_STATUS_NOT_ENOUGH_DATA || decoded == VP8_STATUS_SUSPENDED) {
        return error(DecodeErrorKind::Truncated, "WebP: the data ends before the picture");
    }
    if (decoded != VP8_STATUS_OK) return error(DecodeErrorKind::Corrupt, fmt::format("WebP: status {}", int(decoded)));
    return out;
}

}  // namespace

Format sniff(std::span<const std::uint8_t> bytes) {
    if (starts_with(bytes, {0xFF, 0xD8, 0xFF})) return Format::Jpeg;
    if (starts_with(bytes, {0x89, 0x50, 0x4E, 0x47})) return Format::Png;
    if (starts_with(bytes, {'R', 'I', 'F', 'F'}) && starts_with(bytes, {'W', 'E', 'B', 'P'}, 8)) return Format::WebP;
    if (starts_with(bytes, {'G', 'I', 'F', '8'})) return Format::Gif;
    return Format::Other;
}

std::string_view to_string(Format format) {
    switch (format) {
        case Format::Jpeg: return "JPEG";
        case Format::Png: return "PNG";
        case Format::WebP: return "WEBP";
        case Format::Gif: return "GIF";
        case Format::Other: return "OTHER";
    }
    return "OTHER";
}

std::expected<Rgba, DecodeError> decode(std::span<const std::uint8_t> bytes, DecodeLimits limits) {
    switch (sniff(bytes)) {
        case Format::Jpeg: return decode_jpeg(bytes, limits);
        case Format::Png: return decode_png(bytes, limits);
        case Format::WebP: return decode_webp(bytes, limits);
        case Format::Gif: return error(DecodeErrorKind::UnknownFormat, "GIF pictures are not decoded");
        case Format::Other: break;
    }
    return error(DecodeErrorKind::UnknownFormat, "not a JPEG, PNG or WebP picture");
}

}  // namespace vorn_ui::image_decode
