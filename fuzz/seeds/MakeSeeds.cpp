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

    // MxPEG: full and partial frames, standard and custom tables, 4:2:0 and 4:2:2.
    mxpegenc::SyntheticScene scene(11);
    for (unsigned i = 0; i < 4; ++i) {
        mxpegenc::EncoderOptions options;
        options.quality = 40 + 15 * static_cast<int>(i);
        options.refreshInterval = 3;
        options.huffman = i % 2 ? mxpegenc::HuffmanMode::kCustom : mxpegenc::HuffmanMode::kStandard;
        options.fullFrames422 = i >= 2;
        mxpegenc::MxpegEncoder encoder(options);
        Bytes stream;
        for (uint32_t k = 0; k < 4; ++k)
            Append(stream, encoder.EncodeFrame(scene.Render(k, 64, 48), i % 2 ? letters : "", k * 100000));
        w.Put("mxpegparserfuzz", WithSplit(static_cast<uint8_t>(3 * i), static_cast<uint8_t>(i), stream));
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
