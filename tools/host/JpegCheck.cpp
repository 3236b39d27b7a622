// libjpeg-turbo decoding with errors turned into results and warnings counted.
#include "host/JpegCheck.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace quillon::host {

namespace {
struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    int warnings;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, manager->message);
    longjmp(manager->jump, 1);
}

void OnMessage(j_common_ptr info, int level) {
    // Level -1 is a warning (corrupt data); positive levels are trace messages.
    if (level < 0) ++reinterpret_cast<ErrorManager*>(info->err)->warnings;
}
}  // namespace

DecodedPicture DecodeJpeg(const uint8_t* data, size_t size) {
    DecodedPicture result;
    if (!data || size == 0) {
        result.error = "empty picture";
        return result;
    }
    jpeg_decompress_struct info{};
    ErrorManager manager{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = OnError;
    manager.base.emit_message = OnMessage;
    if (setjmp(manager.jump)) {
        result.error = manager.message;
        jpeg_destroy_decompress(&info);
        result.ok = false;
        return result;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    result.width = info.output_width;
    result.height = info.output_height;
    result.components = static_cast<uint32_t>(info.output_components);
    const size_t stride = size_t(result.width) * result.components;
    result.pixels.resize(stride * result.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    result.warnings = manager.warnings;
    jpeg_destroy_decompress(&info);
    result.ok = true;
    return result;
}

std::vector<std::string> JpegComments(const std::vector<uint8_t>& jpeg) {
    std::vector<std::string> comments;
    size_t i = 2;  // after SOI
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        uint8_t code = jpeg[i + 1];
        if (code == 0xD8 || code == 0xFF) {
            ++i;
            continue;
        }
        size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (length < 2 || i + 2 + length > jpeg.size()) break;
        if (code == 0xFE) comments.emplace_back(reinterpret_cast<const char*>(jpeg.data() + i + 4), length - 2);
        if (code == 0xDA) break;
        i += 2 + length;
    }
    return comments;
}

double Psnr(const DecodedPicture& a, const DecodedPicture& b) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    double mse = sum / double(a.pixels.size());
    if (mse == 0.0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace quillon::host
