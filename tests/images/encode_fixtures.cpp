#include "encode_fixtures.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>

namespace test_images {

std::vector<std::uint8_t> pattern_rgba(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            const bool left = x < w / 2;
            p[0] = left ? 230 : 20;
            p[1] = 30;
            p[2] = left ? 20 : 220;
            p[3] = 255;
        }
    }
    return px;
}

std::vector<std::uint8_t> encode_png(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr) == 0) return {};
    std::vector<std::uint8_t> out(size);
    if (png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr) == 0) return {};
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> encode_jpeg(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long mem_size = 0;
    jpeg_mem_dest(&cinfo, &mem, &mem_size);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(&rgba[static_cast<std::size_t>(cinfo.next_scanline) * w * 4]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> out(mem, mem + mem_size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

std::vector<std::uint8_t> encode_webp(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba) {
    std::uint8_t* out = nullptr;
    const std::size_t size =
        WebPEncodeLosslessRGBA(rgba.data(), static_cast<int>(w), static_cast<int>(h), static_cast<int>(w * 4), &out);
    std::vector<std::uint8_t> bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

}  // namespace test_images
