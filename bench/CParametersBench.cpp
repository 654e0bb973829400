// SPDX-License-Identifier: MIT
// Each container operation beside the code an ordinary user would write
// without it: plain jsoncpp (builders, operator[], isMember, iteration), or
// nlohmann::json for the JSON text forms and the delimited round trip; and
// the JSON text forms beside their floor, the least work that a Json::Value
// store allows (see floorWrite and floorRead), with all texts and with one
// entry in five an integer ("mixed").
// Median times come from Google Benchmark, instruction counts from callgrind
// (steady whatever else the machine does); build.sh bench runs both.

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <valgrind/callgrind.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "CParameters.h"
#include "FileBench.h"

namespace {

using benchmark::DoNotOptimize;

// One entry of a JSON text of the bench, already found in it: the views of
// the name and of a string value, or the integer.
struct Split {
    std::string_view name, text;
    bool isInteger;
    Json::Int64 integer;
};

// The entries of a flat JSON object of strings without escapes and of
// integers, as written by serialiseAsJSON.
std::vector<Split> splitText(const std::string& json)
{
    std::vector<Split> entries;
    const char* p = json.data() + 1;
    while (*p == '"') {
        const char* const nameEnd = std::strchr(p + 1, '"');
        Split entry{{p + 1, static_cast<std::size_t>(nameEnd - p - 1)}, {}, false, 0};
        p = nameEnd + 2; // past '"' and ':'
        if (*p == '"') {
            const char* const textEnd = std::strchr(p + 1, '"');
            entry.text = {p + 1, static_cast<std::size_t>(textEnd - p - 1)};
            p = textEnd + 1;
        } else {
            entry.isInteger = true;
            p = std::from_chars(p, json.data() + json.size(), entry.integer).ptr;
        }
        entries.push_back(entry);
        p += *p == ',';
    }
    return entries;
}

// Names "param<i>" with texts of 5 to 100 characters (none needing a JSON
// escape) or numbers, the same entries in every kind of store; "mixed" has
// every fifth text replaced by an integer.
struct Data {
    explicit Data(std::size_t count)
    {
        const std::string letters = "abcdefghij klmnopqrstuvwxyz.:-0123456789";
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back("param" + std::to_string(i));
            values.push_back((letters + letters + letters).substr(i % 20, 5 + (i * 37) % 96));
            const std::string number = std::to_string(i * 7919 % 100000);
            container.setParam(names[i], values[i].c_str());
            numbers.setParam(names[i], number.c_str());
            plain[names[i]] = values[i];
            const Json::Value mixedValue = i % 5 == 4 ? Json::Value(Json::Int64(i * 7919 % 100000)) : plain[names[i]];
            mixed.setParam(names[i], mixedValue);
            plainMixed[names[i]] = mixedValue;
            plainNumbers[names[i]] = number;
            peer[names[i]] = values[i];
            if (i % (count < 16 ? 1 : count / 16) == 0) {
                sample.push_back(names[i]); // spread over the store, for find
            }
        }
        receiver.append(numbers);
        plainReceiver = plainNumbers;
        delimited = container.serialise("=", ";");
        json = container.serialiseAsJSON();
        jsonMixed = mixed.serialiseAsJSON();
        split = splitText(json);
        splitMixed = splitText(jsonMixed);
    }
    std::vector<std::string> names, values, sample;
    CParameters container, numbers, mixed;
    Json::Value plain, plainNumbers, plainMixed;
    nlohmann::json peer;
    std::string delimited, json, jsonMixed;
    std::vector<Split> split, splitMixed;
    mutable CParameters receiver; // appending the same names again only replaces values
    mutable Json::Value plainReceiver;
};

const Data& data(std::size_t count)
{
    static std::map<std::size_t, Data> cache;
    return cache.try_emplace(count, count).first->second;
}

using Work = std::function<void(const Data&)>;

// What a jsoncpp user writes for the container's getParamAsInt and find.
int plainInt(const Json::Value& store, const std::string& name, int fallback)
{
    try {
        return std::stoi(store.get(name, "").asString());
    } catch (const std::exception&) {
        return fallback;
    }
}

Json::Value::const_iterator plainFind(const Json::Value& store, const std::string& name)
{
    auto it = store.begin();
    while (it != store.end() && it.name() != name) {
        ++it;
    }
    return it;
}

// A work that calls f(data, name) for every name, or every sampled one.
template <typename F> Work perName(F f, std::vector<std::string> Data::*names = &Data::names)
{
    return [f, names](const Data& d) {
        for (const std::string& name : d.*names) {
            DoNotOptimize(f(d, name));
        }
    };
}

const Work readJSON = [](const Data& d) { DoNotOptimize(CParameters().deSerialiseAsJSON(d.json)); };
const Work writeJSON = [](const Data& d) { DoNotOptimize(d.container.serialiseAsJSON()); };

// The floor of serialiseAsJSON: walking the store and appending the bytes
// that it writes, with no test of whether a byte needs an escape (none does
// here). The store holds strings and integers only.
std::string floorWrite(const Json::Value& store)
{
    std::string text = "{";
    for (auto it = store.begin(), last = store.end(); it != last; ++it) {
        if (text.size() > 1) {
            text += ',';
        }
        const char* nameEnd = nullptr;
        const char* const name = it.memberName(&nameEnd);
        text += '"';
        text.append(name, nameEnd);
        text += "\":";
        const char* begin = nullptr;
        const char* stop = nullptr;
        if (it->getString(&begin, &stop)) {
            text += '"';
            text.append(begin, stop);
            text += '"';
        } else {
            char digits[24];
            text.append(digits, std::to_chars(digits, digits + sizeof digits, it->asLargestInt()).ptr);
        }
    }
    text += '}';
    return text;
}

// The floor of deSerialiseAsJSON into an empty container: one memchr pass
// over the text, for touching every byte, and the same Json::Value built
// with jsoncpp's cheapest public calls from the entries already found.
void floorRead(const std::string& json, const std::vector<Split>& entries)
{
    DoNotOptimize(std::memchr(json.data(), 0, json.size()));
    Json::Value store(Json::objectValue);
    for (const Split& entry : entries) {
        Json::Value* const slot = store.demand(entry.name.data(), entry.name.data() + entry.name.size());
        Json::Value value = entry.isInteger ? Json::Value(entry.integer)
                                            : Json::Value(entry.text.data(), entry.text.data() + entry.text.size());
        slot->swapPayload(value);
    }
    DoNotOptimize(store);
}

const struct Row {
    std::string operation, baseline;
    Work works[2]; // the container's, the baseline's
} rows[] = {
    {"setParam",
     "jsoncpp",
     {[](const Data& d) {
          CParameters p;
          for (std::size_t i = 0; i < d.names.size(); ++i) {
              p.setParam(d.names[i], d.values[i].c_str());
          }
          DoNotOptimize(p);
      },
      [](const Data& d) {
          Json::Value store;
          for (std::size_t i = 0; i < d.names.size(); ++i) {
              store[d.names[i]] = d.values[i];
          }
          DoNotOptimize(store);
      }}},
    {"getParamAsString",
     "jsoncpp",
     {perName([](auto& d, auto& n) { return d.container.getParamAsString(n, ""); }),
      perName([](auto& d, auto& n) { return d.plain.get(n, "").asString(); })}},
    {"getParamAsInt",
     "jsoncpp",
     {perName([](auto& d, auto& n) { return d.numbers.getParamAsInt(n, -1); }),
      perName([](auto& d, auto& n) { return plainInt(d.plainNumbers, n, -1); })}},
    {"exists",
     "jsoncpp",
     {perName([](auto& d, auto& n) { return d.container.exists(n); }),
      perName([](auto& d, auto& n) { return d.plain.isMember(n); })}},
    {"size",
     "jsoncpp",
     {[](const Data& d) { DoNotOptimize(d.container.size()); }, [](const Data& d) { DoNotOptimize(d.plain.size()); }}},
    {"find",
     "jsoncpp",
     {perName([](auto& d, auto& n) { return d.container.find(n); }, &Data::sample),
      perName([](auto& d, auto& n) { return plainFind(d.plain, n); }, &Data::sample)}},
    {"serialise",
     "jsoncpp",
     {[](const Data& d) { DoNotOptimize(d.container.serialise("=", ";")); },
      [](const Data& d) {
          std::string text;
          for (auto it = d.plain.begin(); it != d.plain.end(); ++it) {
              text += it == d.plain.begin() ? "" : ";";
              text += it.name();
              text += '=';
              text += it->asString();
          }
          DoNotOptimize(text);
      }}},
    {"deSerialise",
     "jsoncpp",
     {[](const Data& d) { DoNotOptimize(CParameters().deSerialise(d.delimited, "=", ";")); },
      [](const Data& d) {
          Json::Value store;
          std::istringstream in(d.delimited);
          for (std::string entry; std::getline(in, entry, ';');) {
              const std::size_t split = entry.find('=');
              if (split != 0 && split != std::string::npos) {
                  store[entry.substr(0, split)] = entry.substr(split + 1);
              }
          }
          DoNotOptimize(store);
      }}},
    {"serialiseAsJSON",
     "jsoncpp",
     {writeJSON,
      [](const Data& d) {
          static const Json::StreamWriterBuilder writer = [] {
              Json::StreamWriterBuilder builder;
              builder["indentation"] = "";
              return builder;
          }();
          DoNotOptimize(Json::writeString(writer, d.plain));
      }}},
    {"serialiseAsJSON", "nlohmann", {writeJSON, [](const Data& d) { DoNotOptimize(d.peer.dump()); }}},
    {"serialiseAsJSON", "floor", {writeJSON, [](const Data& d) { DoNotOptimize(floorWrite(d.plain)); }}},
    {"serialiseAsJSON",
     "floormix",
     {[](const Data& d) { DoNotOptimize(d.mixed.serialiseAsJSON()); },
      [](const Data& d) { DoNotOptimize(floorWrite(d.plainMixed)); }}},
    {"deSerialiseAsJSON",
     "jsoncpp",
     {readJSON,
      [](const Data& d) {
          static const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
          Json::Value root;
          const char* text = d.json.c_str();
          DoNotOptimize(reader->parse(text, text + d.json.size(), &root, nullptr) && root.isObject());
      }}},
    {"deSerialiseAsJSON", "nlohmann", {readJSON, [](const Data& d) { DoNotOptimize(nlohmann::json::parse(d.json)); }}},
    {"deSerialiseAsJSON", "floor", {readJSON, [](const Data& d) { floorRead(d.json, d.split); }}},
    {"deSerialiseAsJSON",
     "floormix",
     {[](const Data& d) { DoNotOptimize(CParameters().deSerialiseAsJSON(d.jsonMixed)); },
      [](const Data& d) { floorRead(d.jsonMixed, d.splitMixed); }}},
    // Against the least a program can do without the guarantees (FileBench.h).
    {"saveJSONFile",
     "floor",
     {[](const Data& d) { DoNotOptimize(d.container.saveJSONFile(filebench::fileOf(d.json) + ".saved")); },
      [](const Data& d) { DoNotOptimize(filebench::saveFloor(d.container, filebench::fileOf(d.json) + ".floor")); }}},
    {"loadJSONFile",
     "floor",
     {[](const Data& d) { DoNotOptimize(CParameters().loadJSONFile(filebench::fileOf(d.json))); },
      [](const Data& d) { DoNotOptimize(filebench::loadFloor(filebench::fileOf(d.json))); }}},
    {"append",
     "jsoncpp",
     {[](const Data& d) { d.receiver.append(d.numbers); },
      [](const Data& d) {
          for (auto it = d.plainNumbers.begin(); it != d.plainNumbers.end(); ++it) {
              d.plainReceiver[it.name()] = *it;
          }
      }}},
    {"roundTrip",
     "nlohmann",
     {[](const Data& d) { DoNotOptimize(CParameters().deSerialise(d.container.serialise("=", ";"), "=", ";")); },
      [](const Data& d) { DoNotOptimize(nlohmann::json::parse(d.peer.dump())); }}},
};

const std::size_t sizes[] = {10, 1000, 100000};

std::string key(const Row& row, std::size_t size, int side)
{
    return row.operation + "/" + row.baseline + "/" + std::to_string(size) + (side == 0 ? "/container" : "/baseline");
}

// Keeps the median of each benchmark's repetitions; prints nothing.
struct Medians : benchmark::BenchmarkReporter {
    std::map<std::string, double> ns;
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                ns[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }
};

// The "summary:" count of each dump that callgrind wrote into one file; the
// dump at exit has no client request label and is left out.
std::map<std::string, double> instructionCounts(const char* path)
{
    std::map<std::string, double> counts;
    std::ifstream in(path);
    const std::string label = "desc: Trigger: Client Request: ";
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.compare(0, 14, label, 0, 14) == 0) {
            name = line.compare(0, label.size(), label) == 0 ? line.substr(label.size()) : "";
        } else if (line.compare(0, 9, "summary: ") == 0 && !name.empty()) {
            counts[name] = std::stod(line.substr(9));
        }
    }
    return counts;
}

} // namespace

// CParametersBench --count [part]       under callgrind: one dump per work
//                                        (whose name holds part, if given)
// CParametersBench [CALLGRIND_OUT] [...] times the works, prints the table
int main(int argc, char** argv)
{
    const bool counting = argc >= 2 && std::string(argv[1]) == "--count";
    const std::string part = counting && argc > 2 ? argv[2] : "";
    benchmark::Initialize(&argc, argv);
    for (const Row& row : rows) {
        for (const std::size_t size : sizes) {
            for (const int side : {0, 1}) {
                const Work& work = row.works[side];
                const std::string name = key(row, size, side);
                if (!counting) {
                    benchmark::RegisterBenchmark(name.c_str(),
                                                 [&work, size](benchmark::State& state) {
                                                     const Data& d = data(size);
                                                     for (auto _ : state) {
                                                         work(d);
                                                     }
                                                 })
                        ->Repetitions(5)
                        ->MinTime(0.1);
                    continue;
                }
                if (name.find(part) == std::string::npos) {
                    continue;
                }
                const Data& d = data(size);
                work(d); // warms up; outside valgrind the requests do nothing
                CALLGRIND_START_INSTRUMENTATION;
                CALLGRIND_ZERO_STATS;
                work(d);
                CALLGRIND_DUMP_STATS_AT(name.c_str());
                CALLGRIND_STOP_INSTRUMENTATION;
            }
        }
    }
    if (counting) {
        return 0;
    }
    Medians times;
    benchmark::RunSpecifiedBenchmarks(&times);
    auto ir = instructionCounts(argc > 1 ? argv[1] : "");
    auto& ns = times.ns;
    std::printf("%-17s %-9s %7s | %12s %12s %8s | %13s %13s %8s\n", "operation", "baseline", "entries", "container ns",
                "baseline ns", "ratio", "container Ir", "baseline Ir", "ratio");
    for (const Row& row : rows) {
        for (const std::size_t size : sizes) {
            const std::string c = key(row, size, 0), b = key(row, size, 1);
            std::printf("%-17s %-9s %7zu | %12.0f %12.0f %8.2f | %13.0f %13.0f %8.2f\n", row.operation.c_str(),
                        row.baseline.c_str(), size, ns[c], ns[b], ns[c] / ns[b], ir[c], ir[b], ir[c] / ir[b]);
        }
    }
    return 0;
}
