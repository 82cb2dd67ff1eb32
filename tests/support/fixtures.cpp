#include "support/fixtures.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>

#include "support/test_support.h"

namespace orbv_test {

uint32_t get_u32(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size()) throw std::out_of_range("get_u32");
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

uint64_t get_u64(const std::string& bytes, size_t at) {
    return static_cast<uint64_t>(get_u32(bytes, at)) << 32 | get_u32(bytes, at + 4);
}

void set_u32(std::string* bytes, size_t at, uint32_t value) {
    bytes->replace(at, 4, ByteWriter().u32(value).str());
}

std::string atom(const std::string& type, const std::string& payload) {
    return ByteWriter().u32(static_cast<uint32_t>(payload.size() + 8)).raw(type).raw(payload).str();
}

std::string atom64(const std::string& type, const std::string& payload) {
    return ByteWriter().u32(1).raw(type).u64(payload.size() + 16).raw(payload).str();
}

std::string segment(uint8_t marker, const std::string& payload) {
    const auto length = static_cast<uint16_t>(payload.size() + 2);
    return ByteWriter().u8(0xFF).u8(marker).u16(length).raw(payload).str();
}

std::string ifd(const std::vector<Entry>& entries, int count) {
    ByteWriter w;
    w.u16(static_cast<uint16_t>(count >= 0 ? count : static_cast<int>(entries.size())));
    for (const Entry& e : entries) w.u16(e.tag).u16(e.type).u32(e.count).u32(e.value);
    return w.u32(0).str();
}

AtomAt find_atom(const std::string& bytes, const std::vector<std::string>& path) {
    size_t from = 0, to = bytes.size();
    AtomAt found;
    for (const std::string& type : path) {
        found = AtomAt{};
        for (size_t pos = from; pos + 8 <= to && found.start == std::string::npos;) {
            AtomAt a{pos, 8, get_u32(bytes, pos)};
            if (a.size == 1) a = AtomAt{pos, 16, get_u64(bytes, pos + 8)};
            if (a.size < a.header || a.size > to - pos) break;
            if (bytes.compare(pos + 4, 4, type) == 0) found = a;
            pos += static_cast<size_t>(a.size);
        }
        if (found.start == std::string::npos) return found;
        from = found.start + found.header;
        to = found.end();
    }
    return found;
}

std::string insert_child(std::string bytes, const std::vector<std::string>& path,
                         const std::string& child, bool first) {
    const AtomAt target = find_atom(bytes, path);
    if (target.start == std::string::npos) throw std::runtime_error("no " + path.back());
    bytes.insert(first ? target.start + target.header : target.end(), child);
    for (size_t n = 1; n <= path.size(); ++n) {
        const AtomAt a = find_atom(bytes, {path.begin(), path.begin() + n});
        set_u32(&bytes, a.start, static_cast<uint32_t>(a.size + child.size()));
    }
    return bytes;
}

std::string with_size(std::string bytes, const std::vector<std::string>& path, uint64_t size) {
    set_u32(&bytes, find_atom(bytes, path).start, static_cast<uint32_t>(size));
    return bytes;
}

std::string with_co64(const std::string& bytes, uint64_t shift) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl"};
    std::string out;
    for (size_t pos = 0, size; pos + 8 <= bytes.size(); pos += size) {
        size = get_u32(bytes, pos);
        if (size < 8 || size > bytes.size() - pos) throw std::runtime_error("with_co64: atom size");
        const std::string type = bytes.substr(pos + 4, 4);
        std::string payload = bytes.substr(pos + 8, size - 8);
        if (containers.count(type) != 0) payload = with_co64(payload, shift);
        if (type != "stco") {
            out += atom(type, payload);
            continue;
        }
        ByteWriter table;
        table.raw(payload.substr(0, 8));
        for (uint32_t i = 0; i < get_u32(payload, 4); ++i)
            table.u64(get_u32(payload, 8 + 4 * i) + shift);
        out += atom("co64", table.str());
    }
    return out;
}

namespace {
const std::string& fixture_dir() {
    static TempDir dir;
    return dir.path();
}
}  // namespace

std::string fixture_file(const std::string& name) { return fixture_dir() + "/" + name; }

const orbv_sample::Shot& shot(const std::string& name, int frames, bool stills,
                              const std::function<void(orbv_sample::ShotOptions&)>& change) {
    static std::map<std::string, orbv_sample::Shot> made;
    if (made.count(name) == 0) {
        orbv_sample::ShotOptions o;
        o.name = name, o.frames = frames, o.stills = stills;
        if (change) change(o);
        made[name] = orbv_sample::make_shot(fixture_dir(), o);
    }
    return made[name];
}

using orbv_sample::Picture;

std::vector<Picture> decode(const std::string& path) {
    const Picture shape(probe_int(path, "v", "stream=width"),
                        probe_int(path, "v", "stream=height"));
    const std::string raw =
        run_command("ffmpeg -v error -i " + shell_quote(path) + " -vsync 0 -f rawvideo -");
    std::vector<Picture> frames;
    const size_t y = shape.y.size(), c = shape.u.size();
    for (auto at = raw.begin(); y > 0 && at + y + 2 * c <= raw.end(); at += y + 2 * c) {
        frames.push_back(shape);
        std::copy(at, at + y, frames.back().y.begin());
        std::copy(at + y, at + y + c, frames.back().u.begin());
        std::copy(at + y + c, at + y + 2 * c, frames.back().v.begin());
    }
    return frames;
}

double scene_psnr(const Picture& p, int frame, int plane, bool grey) {
    constexpr double kPi = 3.14159265358979323846;
    const int width = plane ? p.chroma_width() : p.width;
    const int height = plane ? p.chroma_height() : p.height;
    const std::vector<uint8_t>& samples = plane == 0 ? p.y : plane == 1 ? p.u : p.v;
    double sum = 0, n = 0;
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width && std::fabs(90.0 - row * 180.0 / height) >= 3; ++x, ++n) {
            double expected = 0;
            for (const double dy : {-0.25, 0.25}) {
                for (const double dx : {-0.25, 0.25}) {
                    const double lon = (x + dx) * 2 * kPi / width - kPi;
                    uint8_t yuv[3];
                    orbv_sample::scene_color(
                        {lon < -kPi ? lon + 2 * kPi : lon, (row + dy) * kPi / height}, frame,
                        &yuv[0], &yuv[1], &yuv[2]);
                    expected += (grey && plane ? 128 : yuv[plane]) / 4.0;
                }
            }
            const double error = samples[static_cast<size_t>(row) * width + x] - expected;
            sum += error * error;
        }
    }
    return 10 * std::log10(255.0 * 255.0 / std::max(sum / n, 1e-9));
}

}  // namespace orbv_test
