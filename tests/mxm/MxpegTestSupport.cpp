// libjpeg-turbo based helpers of the MxPEG tests.
#include "MxpegTestSupport.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace mxmtest {
namespace {

struct ErrorManager {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings are counted by libjpeg in num_warnings; keep them silent.
void OutputMessage(j_common_ptr) {}

}  // namespace

void CollectingReceiver::BeginPicture(uint32_t totalBytes, int32_t width, int32_t height) {
  EXPECT_TRUE(pending.empty()) << "picture announced after its first segment";
  announcedBytes_ = totalBytes;
  announcedWidth_ = width;
  announcedHeight_ = height;
}

void CollectingReceiver::FrameComplete(int32_t width, int32_t height) {
  EXPECT_EQ(announcedBytes_, static_cast<int64_t>(pending.size()));
  EXPECT_EQ(announcedWidth_, width);
  EXPECT_EQ(announcedHeight_, height);
  pictures.push_back(Picture{pending, width, height});
  pending.clear();
  announcedBytes_ = -1;
}

void CollectingReceiver::AppendSegment(const uint8_t* data, uint32_t length) {
  ++appendCalls;
  pending.insert(pending.end(), data, data + length);
}

Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  Decoded out;
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = ErrorExit;
  err.mgr.output_message = OutputMessage;
  std::memset(err.message, 0, sizeof err.message);
  jpeg_create_decompress(&cinfo);
  if (setjmp(err.jump)) {
    out.ok = false;
    out.error = err.message;
    jpeg_destroy_decompress(&cinfo);
    return out;
  }
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.components = cinfo.num_components;
  for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
    out.hSampling[c] = cinfo.comp_info[c].h_samp_factor;
    out.vSampling[c] = cinfo.comp_info[c].v_samp_factor;
  }
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  out.warnings = err.mgr.num_warnings;
  jpeg_destroy_decompress(&cinfo);
  out.ok = true;
  return out;
}

std::vector<uint8_t> ReferenceJpeg(const mxpegenc::MxpegEncoder& encoder) {
  return ReferenceJpegFromStore(encoder.CurrentCoefficients(), encoder.Width(), encoder.Height(),
                                encoder.QuantTable(0), encoder.QuantTable(1));
}

std::vector<uint8_t> ReferenceJpegFromStore(const std::vector<int16_t>& store, int width, int height,
                                            const std::array<uint16_t, 64>& lumaQuant,
                                            const std::array<uint16_t, 64>& chromaQuant) {
  const int columns = (width + 15) / 16, rows = (height + 15) / 16;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = ErrorExit;
  jpeg_create_compress(&cinfo);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return {};
  }
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_YCbCr;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_YCbCr);
  cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 2;
  for (int c = 1; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  unsigned int q[2][64];
  for (int i = 0; i < 64; ++i) q[0][i] = lumaQuant[i], q[1][i] = chromaQuant[i];
  jpeg_add_quant_table(&cinfo, 0, q[0], 100, TRUE);
  jpeg_add_quant_table(&cinfo, 1, q[1], 100, TRUE);
  cinfo.comp_info[0].quant_tbl_no = 0;
  cinfo.comp_info[1].quant_tbl_no = cinfo.comp_info[2].quant_tbl_no = 1;
  cinfo.optimize_coding = FALSE;
  jvirt_barray_ptr arrays[3];
  for (int c = 0; c < 3; ++c) {
    const int f = c == 0 ? 2 : 1;
    arrays[c] = (*cinfo.mem->request_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, TRUE,
                                                  static_cast<JDIMENSION>(columns * f),
                                                  static_cast<JDIMENSION>(rows * f), static_cast<JDIMENSION>(f));
  }
  jpeg_write_coefficients(&cinfo, arrays);
  for (int c = 0; c < 3; ++c) {
    const int f = c == 0 ? 2 : 1;
    for (int by = 0; by < rows * f; ++by) {
      JBLOCKARRAY row = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[c],
                                                         static_cast<JDIMENSION>(by), 1, TRUE);
      for (int bx = 0; bx < columns * f; ++bx) {
        const int tile = (by / f) * columns + bx / f;
        const int block = c == 0 ? (by % 2) * 2 + bx % 2 : 3 + c;
        const int16_t* src = &store[static_cast<size_t>(tile) * 384 + block * 64];
        for (int i = 0; i < 64; ++i) row[0][bx][i] = src[i];
      }
    }
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

bool FeedChunks(mxm::MxPEGParser& parser, const std::vector<uint8_t>& bytes, const std::vector<size_t>& sizes) {
  bool allFed = true;
  size_t pos = 0, i = 0;
  while (pos < bytes.size()) {
    const size_t n = std::min(sizes.empty() ? bytes.size() : std::max<size_t>(sizes[i++ % sizes.size()], 1),
                              bytes.size() - pos);
    allFed = parser.Feed(bytes.data() + pos, static_cast<uint32_t>(n)) && allFed;
    pos += n;
  }
  return allFed;
}

std::vector<uint8_t> Soi() { return {0xFF, 0xD8}; }

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += (a[i] - b[i]) * double(a[i] - b[i]);
  const double mse = sum / static_cast<double>(std::max<size_t>(a.size(), 1));
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace mxmtest
