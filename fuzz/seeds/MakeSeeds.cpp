// Writes the seed corpus of every fuzz target: pictures and streams from the camera simulator's
// picture source and MxPEG encoder, the simulator's sensor blocks, and typical camera replies.
// Usage: fuzz_make_seeds <directory>; files go to <directory>/corpus-<target>/seedNN.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <fstream>
#include <string>
#include <vector>

#include "camsim/CameraModel.h"
#include "camsim/PictureSource.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// The chunk-split targets read two leading bytes as the split seed.
Bytes WithSplit(uint8_t a, uint8_t b, const Bytes& body) {
    Bytes out{a, b};
    Append(out, body);
    return out;
}

class Writer {
public:
    explicit Writer(std::filesystem::path root) : root_(std::move(root)) {}
    bool Put(const std::string& target, const Bytes& data) {
        const std::filesystem::path dir = root_ / ("corpus-" + target);
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        char name[16];
        std::snprintf(name, sizeof(name), "seed%02u", count_[target]++);
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        ok_ = ok_ && static_cast<bool>(out);
        return ok_;
    }
    bool Ok() const { return ok_; }

private:
    std::filesystem::path root_;
    std::map<std::string, unsigned> count_;
    bool ok_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <directory>\n");
        return 2;
    }
    Writer w(argv[1]);

    camsim::CameraModel model(4, 2);
    model.SetInputs({true, false, true, false});
    const std::string letters = model.SensorBlock();
    model.SetSensorKeys(camsim::SensorKeys::Numbered);
    const std::string numbers = model.SensorBlock();

    // MJPEG: multipart bodies of two and three simulator pictures, small sizes so runs stay fast.
    camsim::PictureSource source(7);
    camsim::PtzState ptz;
    for (unsigned i = 0; i < 4; ++i) {
        camsim::ImageSettings image;
        image.width = 64 + 32 * i;
        image.height = 48 + 16 * i;
        image.quality = 30 + 20 * static_cast<int>(i);
        Bytes body;
        for (unsigned k = 0; k < 2 + i % 2; ++k) {
            Bytes jpeg;
            if (!source.EncodeJpeg(k, image, ptz, i % 2 ? letters : numbers, &jpeg)) return 1;
            Append(body, FromText("--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                  std::to_string(jpeg.size()) + "\r\n\r\n"));
            Append(body, jpeg);
            Append(body, FromText("\r\n"));
        }
        w.Put("multipartparserfuzz", WithSplit(static_cast<uint8_t>(i), static_cast<uint8_t>(17 * i), body));
    }

    // MxPEG streams from the encoder, one kind each, small pictures so that runs stay fast; the parser
    // target reads a chunk size and a size-limit byte first (0xFF: the larger limit).
    struct StreamKind {
        int width, height;
        mxpegenc::EncoderOptions options;
        uint8_t limit;
    };
    auto kind = [](auto&& set) {
        mxpegenc::EncoderOptions o;
        o.refreshInterval = 2;  // full, partial, full
        set(o);
        return o;
    };
    const StreamKind kinds[] = {
        {32, 16, kind([](auto& o) { o.quality = 40; }), 0},
        {32, 16, kind([](auto& o) { o.huffman = mxpegenc::HuffmanMode::kCustom; o.quality = 55; }), 0},
        {32, 16, kind([](auto& o) { o.fullFrames422 = true; o.quality = 70; }), 0},
        {32, 24, kind([](auto& o) { o.fullFrames422 = true; o.unitRowsByHeight = true; }), 0},  // 24: no multiple of 16
        {16, 40, kind([](auto& o) { o.fullFrames422 = true; o.unitRowsByHeight = true; o.restartInterval = 3; }), 0},
        {32, 16, kind([](auto& o) { o.restartInterval = 1; }), 0},
        {48, 16, kind([](auto& o) { o.restartInterval = 2; o.huffman = mxpegenc::HuffmanMode::kCustom; }), 0},
        {32, 16, kind([](auto& o) { o.fillBytes = 2; }), 0},
        {32, 16, kind([](auto& o) { o.fillBytes = 1; o.restartInterval = 2; }), 0},
        {32, 16, kind([](auto& o) { o.tablesEveryFullFrame = true; o.huffman = mxpegenc::HuffmanMode::kCustom; }), 0},
        {33, 17, kind([](auto& o) { o.tablesEveryFullFrame = true; o.refreshInterval = 2; }), 0},
        {32, 16, kind([](auto& o) { o.fullFrames444 = true; }), 0},
        {80, 16, kind([](auto& o) { o.quality = 60; }), 0xFF},  // wider than the usual limit
    };
    mxpegenc::SyntheticScene scene(11);
    for (unsigned i = 0; i < std::size(kinds); ++i) {
        const StreamKind& k = kinds[i];
        mxpegenc::MxpegEncoder encoder(k.options);
        Bytes stream;
        for (uint32_t f = 0; f < 3; ++f) {
            if (f == 2 && i % 3 == 0) encoder.SetQuality(k.options.quality + 20);  // new tables mid-stream
            Append(stream, encoder.EncodeFrame(scene.Render(f, k.width, k.height), i % 4 == 1 ? letters : "", f * 100000));
        }
        Append(stream, {0xFF, 0xD8});  // converts the last frame
        const uint8_t chunk = static_cast<uint8_t>(i % 4 == 0 ? 0 : 1 + 37 * i);
        w.Put("mxpegparserfuzz", WithSplit(chunk, k.limit, stream));
    }

    // The converter target builds frames from a description read from the end of its input (kind and
    // option bytes) and block values read from the front: one seed per frame kind.
    const uint8_t frameKinds[][3] = {{0x00, 0x00, 0}, {0x00, 0x00, 6}, {0x05, 0x04, 5}, {0x08, 0x00, 0},
                                     {0x10, 0x00, 0}, {0x20, 0x00, 0}, {0x30, 0x00, 0}, {0x40, 0x08, 0},
                                     {0x50, 0x10, 0}, {0x41, 0x40, 0}, {0x40, 0x80, 0}, {0x00, 0x01, 0},
                                     {0x0C, 0x02, 7}, {0x80, 0x00, 0}, {0x49, 0x11, 6}};
    for (unsigned i = 0; i < std::size(frameKinds); ++i) {
        Bytes seed(320);
        uint32_t state = 2463534242u + i;
        for (uint8_t& b : seed) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            b = static_cast<uint8_t>(state);
        }
        seed[seed.size() - 1] = 0;  // size limit 64
        seed[seed.size() - 2] = frameKinds[i][0];
        seed[seed.size() - 3] = frameKinds[i][1];
        seed[seed.size() - 4] = frameKinds[i][2];
        w.Put("mxpegconverterfuzz", seed);
    }

    // Scan-cache target: first byte odd for a Huffman table (DHT data, then 16-bit patterns), even for
    // the tile store (rounds of changes).
    const mxpegenc::MxpegEncoder tables;
    for (unsigned i = 0; i < 6; ++i) {
        Bytes seed{static_cast<uint8_t>(i)};
        if (i % 2) Append(seed, tables.HuffmanTable(static_cast<int>(i / 2)));
        uint32_t state = 88172645u + i;
        for (int n = 0; n < 400; ++n) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            seed.push_back(static_cast<uint8_t>(state));
        }
        w.Put("mxpegscancachefuzz", seed);
    }

    // Sensor blocks as the simulator sends them; the first byte is the input count.
    w.Put("sensorblockfuzz", [&] { Bytes b{4}; Append(b, FromText(letters)); return b; }());
    w.Put("sensorblockfuzz", [&] { Bytes b{4}; Append(b, FromText(numbers)); return b; }());
    w.Put("sensorblockfuzz", [&] { Bytes b{2}; Append(b, FromText("SECTION SENSORS\r\nINA=1, INB = 0\r\n")); return b; }());

    // Text functions: key NUL separator NUL delimiters NUL reply.
    const std::string nul(1, '\0');
    w.Put("textfunctionsfuzz", FromText("INA" + nul + "=" + nul + ",\r\n" + nul + letters));
    w.Put("textfunctionsfuzz", FromText("SI2" + nul + "=" + nul + ",\r\n" + nul + numbers));
    w.Put("textfunctionsfuzz", FromText("-42" + nul + ": " + nul + "\n" + nul + "Model: M12\nFirmware:  4.1 \n"));

    // HTTP responses the camera gives: a plain reply, a chunked one, a digest challenge.
    w.Put("httpresponsefuzz", FromText("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello"));
    w.Put("httpresponsefuzz", FromText("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"));
    w.Put("httpresponsefuzz",
          FromText("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", qop=\"auth\", "
                   "nonce=\"abc123\", algorithm=MD5\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"
                   "Content-Length: 0\r\n\r\n"));

    // Capability text, probe replies and a preset file in their usual shapes.
    w.Put("ptzcapabilitiesfuzz", FromText("Pan=1;Tilt=1;Zoom=1;Focus=0;Iris=0;AreaZoom=1;Center=1;Unzoom=1;Preset=16"));
    w.Put("probereplyfuzz", FromText("Model: M16\r\nAudio: enabled\r\nInputs: 4\r\nOutputs: 2\r\n"));
    w.Put("probereplyfuzz", FromText("size=160x120 320x240 640x480\r\nframerate=1 2 5 10 25\r\n"));
    w.Put("probereplyfuzz", FromText("<tr><td>Hardware Address</td><td>00:03:C5:0A:0B:0C</td></tr>"));
    w.Put("presetfilefuzz",
          FromText("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Presets>\n  <Channel number=\"1\">\n"
                   "    <Preset number=\"7\" name=\"door\" slot=\"5\"/>\n  </Channel>\n</Presets>\n"));
    return w.Ok() ? 0 : 1;
}
