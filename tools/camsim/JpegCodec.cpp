// libjpeg-turbo wrappers. Errors leave through longjmp to the call that set the jump point, so no
// C++ object with a destructor lives between setjmp and the libjpeg calls.
#include "camsim/JpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace camsim {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }

void OnMessage(j_common_ptr) {}  // warnings are not printed

void InstallErrors(ErrorManager* errors) {
    jpeg_std_error(&errors->base);
    errors->base.error_exit = OnError;
    errors->base.output_message = OnMessage;
}

bool Compress(const RgbPicture& picture, int quality, const std::vector<std::string>& comments, bool progressive,
              unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info;
    ErrorManager errors;
    info.err = &errors.base;
    InstallErrors(&errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = picture.width;
    info.image_height = picture.height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    for (size_t c = 0; c < comments.size(); ++c) {
        const std::string& text = comments[c];
        for (size_t at = 0; at < text.size(); at += kMaxCommentSegmentBytes) {
            size_t n = text.size() - at < kMaxCommentSegmentBytes ? text.size() - at : kMaxCommentSegmentBytes;
            jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(text.data() + at),
                              static_cast<unsigned>(n));
        }
    }
    const size_t stride = static_cast<size_t>(picture.width) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

bool Decompress(const uint8_t* data, size_t size, DecodedJpeg* out) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = &errors.base;
    InstallErrors(&errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out->picture.width = info.output_width;
    out->picture.height = info.output_height;
    const size_t stride = static_cast<size_t>(info.output_width) * 3;
    out->picture.rgb.resize(stride * info.output_height);
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
        out->comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->picture.rgb.data() + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

bool EncodeJpeg(const RgbPicture& picture, int quality, const std::vector<std::string>& comments,
                std::vector<uint8_t>* out, bool progressive) {
    out->clear();
    if (picture.width == 0 || picture.height == 0 ||
        picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
        return false;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool ok = Compress(picture, quality < 1 ? 1 : (quality > 100 ? 100 : quality), comments, progressive, &buffer,
                       &size);
    if (ok) out->assign(buffer, buffer + size);
    std::free(buffer);
    return ok;
}

bool DecodeJpeg(const uint8_t* data, size_t size, DecodedJpeg* out) {
    *out = DecodedJpeg();
    if (!data || size == 0) return false;
    // The comment list and pixel buffer are filled inside; on failure they are dropped here.
    bool ok = Decompress(data, size, out);
    if (!ok) *out = DecodedJpeg();
    return ok;
}

}  // namespace camsim
