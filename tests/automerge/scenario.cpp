#include "scenario.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <zlib.h>

namespace automerge_test {

using automerge::Document;
using automerge::Item;
using automerge::ObjId;
using automerge::ObjType;
using automerge::Value;
using nlohmann::json;

namespace {

std::string hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::vector<std::uint8_t> unhex(const std::string& h) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

Value scalar(const json& v) {
    auto it = v.begin();
    const std::string& kind = it.key();
    const json& x = it.value();
    if (kind == "int") return Value::int64(std::stoll(x.get<std::string>()));
    if (kind == "uint") return Value::uint64(std::stoull(x.get<std::string>()));
    if (kind == "f64") return Value::f64(x.get<double>());
    if (kind == "str") return Value::str(x.get<std::string>());
    if (kind == "bool") return Value::boolean(x.get<bool>());
    if (kind == "null") return Value::null();
    if (kind == "bytes") return Value::bytes(unhex(x.get<std::string>()));
    if (kind == "counter") return Value::counter(std::stoll(x.get<std::string>()));
    if (kind == "timestamp") return Value::timestamp(std::stoll(x.get<std::string>()));
    return Value::null();
}

std::optional<ObjId> resolve(Document& doc, const json& path) {
    ObjId obj = ObjId::root();
    for (const json& step : path) {
        auto item = doc.get(obj, step.get<std::string>());
        if (!item || !*item || !(*item)->is_object()) return std::nullopt;
        obj = (*item)->id;
    }
    return obj;
}

ObjType type_named(const std::string& t) {
    if (t == "list") return ObjType::list;
    if (t == "text") return ObjType::text;
    if (t == "table") return ObjType::table;
    return ObjType::map;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) s.replace(pos, from.size(), to);
    return s;
}

json dump_object(Document& doc, ObjId obj);

json dump_scalar(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::null: return {{"t", "null"}};
    case Value::Kind::boolean: return {{"t", "boolean"}, {"v", *v.as_bool()}};
    case Value::Kind::int64: return {{"t", "int"}, {"v", std::to_string(*v.as_int64())}};
    case Value::Kind::uint64: return {{"t", "uint"}, {"v", std::to_string(*v.as_uint64())}};
    case Value::Kind::f64: {
        double d = *v.as_f64();
        char b[8];
        std::memcpy(b, &d, 8);
        return {{"t", "f64"}, {"v", hex(std::string_view(b, 8))}};
    }
    case Value::Kind::str: return {{"t", "str"}, {"v", std::string(*v.as_str())}};
    case Value::Kind::bytes: return {{"t", "bytes"}, {"v", hex(*v.as_bytes())}};
    case Value::Kind::counter: return {{"t", "counter"}, {"v", std::to_string(*v.as_counter())}};
    case Value::Kind::timestamp: return {{"t", "timestamp"}, {"v", std::to_string(*v.as_timestamp())}};
    case Value::Kind::unknown: return {{"t", "unknown"}, {"v", hex(*v.as_bytes())}};
    }
    return {};
}

json dump_items(Document& doc, const std::vector<Item>& items) {
    json out = json::array();
    for (const Item& item : items) {
        if (item.object) {
            out.push_back({{"t", std::string(automerge::to_string(*item.object))},
                           {"id", doc.id_text(item.id)},
                           {"obj", dump_object(doc, item.id)}});
        } else {
            json s = dump_scalar(item.value);
            s["id"] = doc.id_text(item.id);
            out.push_back(std::move(s));
        }
    }
    return out;
}

json dump_object(Document& doc, ObjId obj) {
    ObjType type = *doc.object_type(obj);
    json out;
    out["type"] = std::string(automerge::to_string(type));
    if (type == ObjType::map || type == ObjType::table) {
        auto keys = *doc.keys(obj);
        out["keys"] = keys;
        json entries = json::object();
        for (const auto& k : keys) entries[k] = dump_items(doc, *doc.get_all(obj, k));
        out["entries"] = std::move(entries);
        return out;
    }
    json items = json::array();
    std::size_t n = *doc.length(obj);
    for (std::size_t i = 0; i < n; ++i) items.push_back(dump_items(doc, *doc.get_all(obj, i)));
    out["items"] = std::move(items);
    if (type == ObjType::text) out["text"] = *doc.text(obj);
    return out;
}

}  // namespace

std::expected<Document, std::string> play(const json& scenario) {
    std::map<std::string, Document> docs;
    for (const json& step : scenario.at("steps")) {
        if (step.contains("doc")) {
            docs.insert_or_assign(step["doc"].get<std::string>(),
                                  Document(*automerge::ActorId::from_hex(step["actor"].get<std::string>())));
        } else if (step.contains("fork")) {
            auto& from = docs.at(step["from"].get<std::string>());
            docs.insert_or_assign(step["fork"].get<std::string>(),
                                  from.fork(*automerge::ActorId::from_hex(step["actor"].get<std::string>())));
        } else if (step.contains("change")) {
            Document& doc = docs.at(step["change"].get<std::string>());
            int times = step.contains("repeat") ? step["repeat"].get<int>() : 1;
            for (int i = 0; i < times; ++i) {
                json ops = step["ops"];
                if (step.contains("repeat")) ops = json::parse(replace_all(ops.dump(), "{i}", std::to_string(i)));
                for (const json& op : ops) {
                    const std::string kind = op[0];
                    auto obj = resolve(doc, op[1]);
                    if (!obj) return std::unexpected("bad path " + op[1].dump());
                    std::expected<void, automerge::Error> r;
                    if (kind == "put") {
                        r = doc.put(*obj, op[2].get<std::string>(), scalar(op[3]));
                    } else if (kind == "obj") {
                        auto o = doc.put_object(*obj, op[2].get<std::string>(), type_named(op[3]));
                        if (!o) r = std::unexpected(o.error());
                    } else if (kind == "del") {
                        r = doc.delete_key(*obj, op[2].get<std::string>());
                    } else {
                        return std::unexpected("operation not supported by the engine's writer: " + kind);
                    }
                    if (!r) return std::unexpected(kind + " failed: " + r.error().message);
                }
                std::optional<std::string> message;
                if (step.contains("message") && !step["message"].is_null()) message = step["message"].get<std::string>();
                doc.commit({.message = message, .time = step["time"].get<std::int64_t>() + (step.contains("repeat") ? i : 0)});
            }
        } else if (step.contains("merge")) {
            auto& into = docs.at(step["merge"].get<std::string>());
            auto& from = docs.at(step["from"].get<std::string>());
            if (auto r = into.merge(from); !r) return std::unexpected("merge failed: " + r.error().message);
        } else {
            return std::unexpected("unknown step " + step.dump());
        }
    }
    return std::move(docs.at(scenario.at("result").get<std::string>()));
}

json dump(Document& doc) {
    json heads = json::array();
    for (const auto& h : doc.heads()) heads.push_back(h.to_hex());
    return {{"heads", heads}, {"root", dump_object(doc, ObjId::root())}};
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> concat(const std::vector<std::vector<std::uint8_t>>& chunks) {
    std::vector<std::uint8_t> out;
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
}

namespace {

struct Cursor {
    std::span<const std::uint8_t> d;
    std::size_t p = 0;
    bool ok = true;
    std::uint64_t uleb() {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p >= d.size()) {
                ok = false;
                return 0;
            }
            std::uint8_t b = d[p++];
            v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        ok = false;
        return 0;
    }
    std::span<const std::uint8_t> take(std::uint64_t n) {
        if (n > d.size() - p) {
            ok = false;
            return {};
        }
        auto s = d.subspan(p, n);
        p += n;
        return s;
    }
};

void put_uleb(std::vector<std::uint8_t>& out, std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7f;
        v >>= 7;
        out.push_back(v ? (b | 0x80) : b);
    } while (v);
}

std::vector<std::uint8_t> inflate(std::span<const std::uint8_t> in) {
    std::vector<std::uint8_t> out(1 << 20);
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    inflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

}  // namespace

std::vector<std::uint8_t> inflate_columns(std::span<const std::uint8_t> chunk) {
    std::vector<std::uint8_t> fallback(chunk.begin(), chunk.end());
    if (chunk.size() < 9 || chunk[8] != 0) return fallback;
    Cursor c{chunk.subspan(9)};
    std::uint64_t len = c.uleb();
    auto body_span = c.take(len);
    if (!c.ok) return fallback;
    Cursor b{body_span};
    std::vector<std::uint8_t> head;
    std::uint64_t nactors = b.uleb();
    for (std::uint64_t i = 0; i < nactors && b.ok; ++i) b.take(b.uleb());
    std::uint64_t nheads = b.uleb();
    b.take(32 * nheads);
    head.assign(body_span.begin(), body_span.begin() + static_cast<std::ptrdiff_t>(b.p));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> meta[2];
    for (auto& m : meta) {
        std::uint64_t n = b.uleb();
        for (std::uint64_t i = 0; i < n && b.ok; ++i) {
            std::uint64_t spec = b.uleb();
            std::uint64_t l = b.uleb();
            m.emplace_back(spec, l);
        }
    }
    std::vector<std::uint8_t> out = head;
    std::vector<std::uint8_t> data;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> plain[2];
    for (int t = 0; t < 2; ++t) {
        for (auto [spec, l] : meta[t]) {
            auto col = b.take(l);
            std::vector<std::uint8_t> bytes(col.begin(), col.end());
            if (spec & 8) bytes = inflate(col);
            plain[t].emplace_back(spec & ~std::uint64_t{8}, bytes.size());
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
    }
    if (!b.ok) return fallback;
    for (auto& m : plain) {
        put_uleb(out, m.size());
        for (auto [spec, l] : m) {
            put_uleb(out, spec);
            put_uleb(out, l);
        }
    }
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), body_span.begin() + static_cast<std::ptrdiff_t>(b.p), body_span.end());
    return out;
}

SameDocument compare_documents(std::span<const std::uint8_t> ours, std::span<const std::uint8_t> theirs) {
    if (std::equal(ours.begin(), ours.end(), theirs.begin(), theirs.end())) return {true, false};
    return {inflate_columns(ours) == inflate_columns(theirs), true};
}

std::filesystem::path source_dir() { return std::filesystem::path(VORN_SOURCE_DIR) / "tests" / "automerge"; }

RunResult run(const std::string& command) {
    RunResult result;
    std::string full = command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) result.output.append(buf.data(), n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace automerge_test
