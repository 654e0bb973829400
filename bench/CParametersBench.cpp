// Every container operation beside plain jsoncpp code doing the same work
// (same validation, same merge, same result) in the same binary, and the
// delimited round trip beside nlohmann::json's dump and parse of the same
// entries; timed with Google Benchmark and counted in instructions under
// callgrind, whose counts do not depend on what else the machine does.

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <valgrind/callgrind.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CParameters.h"

namespace {

const int sizes[] = {10, 1000, 100000};

// Names like "param123", values of 5 to 100 characters, each store built
// once per size both as a container and as plain jsoncpp. The numeric stores
// hold decimal texts, as read back from the delimited form.
struct Data {
    explicit Data(std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back("param" + std::to_string(i));
            std::string value(5 + (i * 37) % 96, ' ');
            for (std::size_t c = 0; c < value.size(); ++c) {
                value[c] = "abcdefghij klmnopqrstuvwxyz.:-0123456789"[(i + c * 7) % 40];
            }
            values.push_back(value);
            const std::string number = std::to_string(i * 7919 % 100000);
            container.setParam(names[i], value.c_str());
            numbers.setParam(names[i], number.c_str());
            replacements.setParam(names[i], "replacement value");
            plain[names[i]] = value;
            plainNumbers[names[i]] = number;
            plainReplacements[names[i]] = "replacement value";
            peer[names[i]] = value;
        }
        receiver.append(container);
        plainReceiver = plain;
        delimited = container.serialise("=", ";");
        json = container.serialiseAsJSON();
        for (std::size_t i = 0; i < count; i += count < 64 ? 1 : count / 64) {
            sample.push_back(names[i]);
        }
    }
    std::vector<std::string> names, values, sample; // sample: up to 64 names spread over the store
    CParameters container, numbers, replacements;
    Json::Value plain{Json::objectValue}, plainNumbers{Json::objectValue}, plainReplacements{Json::objectValue};
    nlohmann::json peer = nlohmann::json::object();
    std::string delimited, json;
    // Appending the same names again only replaces values, so the append
    // receivers need no reset between iterations.
    mutable CParameters receiver;
    mutable Json::Value plainReceiver;
};

const Data& data(std::size_t count)
{
    static std::map<std::size_t, std::unique_ptr<Data>> cache;
    auto& slot = cache[count];
    if (!slot) {
        slot = std::make_unique<Data>(count);
    }
    return *slot;
}

std::string_view keyOf(const Json::Value::const_iterator& it)
{
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

// Plain jsoncpp versions of the container's work.
namespace plain {

int getInt(const Json::Value& store, const std::string& name, int defaultValue)
{
    const Json::Value* value = store.find(name.data(), name.data() + name.size());
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->isInt()) {
        return value->asInt();
    }
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value->getString(&begin, &end)) {
        return defaultValue;
    }
    if (end - begin > 1 && *begin == '+' && begin[1] >= '0' && begin[1] <= '9') {
        ++begin;
    }
    int number = 0;
    const auto result = std::from_chars(begin, end, number);
    return result.ec == std::errc() && result.ptr == end ? number : defaultValue;
}

Json::Value::const_iterator find(const Json::Value& store, const std::string& name)
{
    auto it = store.begin();
    while (it != store.end() && keyOf(it) != name) {
        ++it;
    }
    return it;
}

std::string serialise(const Json::Value& store, const std::string& nameValue, const std::string& entry)
{
    static const Json::StreamWriterBuilder writer = [] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        return builder;
    }();
    std::string text;
    const auto first = store.begin();
    for (auto it = first, last = store.end(); it != last; ++it) {
        if (it != first) {
            text += entry;
        }
        text += keyOf(it);
        text += nameValue;
        const char* begin = nullptr;
        const char* end = nullptr;
        if (it->getString(&begin, &end)) {
            text.append(begin, end);
        } else if (!it->isNull()) {
            text += Json::writeString(writer, *it);
        }
    }
    return text;
}

bool deSerialise(Json::Value& store, const std::string& text, const std::string& nameValue, const std::string& entry)
{
    if (nameValue.empty() || entry.empty() || nameValue == entry) {
        return false;
    }
    std::vector<std::pair<std::string_view, std::string_view>> entries;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t stop = std::min(rest.find(entry), rest.size());
        const std::string_view item = rest.substr(0, stop);
        rest.remove_prefix(std::min(stop + entry.size(), rest.size()));
        if (item.empty()) {
            continue;
        }
        const std::size_t split = item.find(nameValue);
        if (split == 0 || split == std::string_view::npos) {
            return false;
        }
        entries.emplace_back(item.substr(0, split), item.substr(split + nameValue.size()));
    }
    for (const auto& [name, value] : entries) {
        *store.demand(name.data(), name.data() + name.size()) = Json::Value(value.data(), value.data() + value.size());
    }
    return true;
}

} // namespace plain

using Work = std::function<void(const Data&)>;

// Every measured work, named "operation/variant", in registration order.
std::vector<std::pair<std::string, Work>>& works()
{
    static std::vector<std::pair<std::string, Work>> all;
    return all;
}

void measure(const std::string& name, Work work) { works().emplace_back(name, std::move(work)); }

// The operations; each name is "operation/variant".
void registerAll()
{
    measure("setParam/container", [](const Data& d) {
        CParameters parameters;
        for (std::size_t i = 0; i < d.names.size(); ++i) {
            parameters.setParam(d.names[i], d.values[i].c_str());
        }
        benchmark::DoNotOptimize(parameters);
    });
    measure("setParam/jsoncpp", [](const Data& d) {
        Json::Value store(Json::objectValue);
        for (std::size_t i = 0; i < d.names.size(); ++i) {
            store[d.names[i]] = Json::Value(d.values[i].c_str());
        }
        benchmark::DoNotOptimize(store);
    });
    measure("getParamAsString/container", [](const Data& d) {
        for (const auto& name : d.names) {
            benchmark::DoNotOptimize(d.container.getParamAsString(name, ""));
        }
    });
    measure("getParamAsString/jsoncpp", [](const Data& d) {
        const std::string defaultValue;
        for (const auto& name : d.names) {
            const Json::Value& value = d.plain[name];
            benchmark::DoNotOptimize(value.isString() ? value.asString() : defaultValue);
        }
    });
    measure("getParamAsInt/container", [](const Data& d) {
        for (const auto& name : d.names) {
            benchmark::DoNotOptimize(d.numbers.getParamAsInt(name, -1));
        }
    });
    measure("getParamAsInt/jsoncpp", [](const Data& d) {
        for (const auto& name : d.names) {
            benchmark::DoNotOptimize(plain::getInt(d.plainNumbers, name, -1));
        }
    });
    measure("exists/container", [](const Data& d) {
        for (const auto& name : d.names) {
            benchmark::DoNotOptimize(d.container.exists(name));
        }
    });
    measure("exists/jsoncpp", [](const Data& d) {
        for (const auto& name : d.names) {
            benchmark::DoNotOptimize(d.plain.isMember(name));
        }
    });
    measure("size/container", [](const Data& d) { benchmark::DoNotOptimize(d.container.size()); });
    measure("size/jsoncpp", [](const Data& d) {
        std::size_t count = 0;
        for (auto it = d.plain.begin(), last = d.plain.end(); it != last; ++it) {
            ++count;
        }
        benchmark::DoNotOptimize(count);
    });
    measure("find/container", [](const Data& d) {
        for (const auto& name : d.sample) {
            benchmark::DoNotOptimize(d.container.find(name));
        }
    });
    measure("find/jsoncpp", [](const Data& d) {
        for (const auto& name : d.sample) {
            benchmark::DoNotOptimize(plain::find(d.plain, name));
        }
    });
    measure("serialise/container", [](const Data& d) { benchmark::DoNotOptimize(d.container.serialise("=", ";")); });
    measure("serialise/jsoncpp", [](const Data& d) { benchmark::DoNotOptimize(plain::serialise(d.plain, "=", ";")); });
    measure("deSerialise/container", [](const Data& d) {
        CParameters parameters;
        benchmark::DoNotOptimize(parameters.deSerialise(d.delimited, "=", ";"));
    });
    measure("deSerialise/jsoncpp", [](const Data& d) {
        Json::Value store(Json::objectValue);
        benchmark::DoNotOptimize(plain::deSerialise(store, d.delimited, "=", ";"));
    });
    measure("serialiseAsJSON/container",
            [](const Data& d) { benchmark::DoNotOptimize(d.container.serialiseAsJSON()); });
    measure("serialiseAsJSON/jsoncpp", [](const Data& d) {
        static const Json::StreamWriterBuilder writer = [] {
            Json::StreamWriterBuilder builder;
            builder["indentation"] = "";
            builder["emitUTF8"] = true;
            return builder;
        }();
        benchmark::DoNotOptimize(Json::writeString(writer, d.plain));
    });
    measure("deSerialiseAsJSON/container", [](const Data& d) {
        CParameters parameters;
        benchmark::DoNotOptimize(parameters.deSerialiseAsJSON(d.json));
    });
    measure("deSerialiseAsJSON/jsoncpp", [](const Data& d) {
        static const std::unique_ptr<Json::CharReader> reader = [] {
            Json::CharReaderBuilder builder;
            Json::CharReaderBuilder::strictMode(&builder.settings_);
            builder["stackLimit"] = CParameters::maxJSONDepth;
            builder["skipBom"] = false;
            return std::unique_ptr<Json::CharReader>(builder.newCharReader());
        }();
        Json::Value store(Json::objectValue);
        Json::Value parsed;
        if (reader->parse(d.json.data(), d.json.data() + d.json.size(), &parsed, nullptr) && parsed.isObject()) {
            store.swap(parsed);
        }
        benchmark::DoNotOptimize(store);
    });
    measure("append/container", [](const Data& d) { d.receiver.append(d.replacements); });
    measure("append/jsoncpp", [](const Data& d) {
        for (auto it = d.plainReplacements.begin(); it != d.plainReplacements.end(); ++it) {
            const std::string_view name = keyOf(it);
            *d.plainReceiver.demand(name.data(), name.data() + name.size()) = *it;
        }
    });
    measure("roundTrip/container", [](const Data& d) {
        CParameters parameters;
        benchmark::DoNotOptimize(parameters.deSerialise(d.container.serialise("=", ";"), "=", ";"));
    });
    measure("roundTrip/nlohmann",
            [](const Data& d) { benchmark::DoNotOptimize(nlohmann::json::parse(d.peer.dump())); });
}

void registerBenchmarks()
{
    for (const auto& [name, work] : works()) {
        for (const int size : sizes) {
            benchmark::RegisterBenchmark(name.c_str(), [work = work](benchmark::State& state) {
                const Data& d = data(static_cast<std::size_t>(state.range(0)));
                for (auto _ : state) {
                    work(d);
                }
            })->Arg(size);
        }
    }
}

// Under callgrind: each work once to warm up, then once between zeroing and
// dumping the counters, one dump per work and size. Elsewhere the requests
// do nothing.
void countInstructions()
{
    for (const int size : sizes) {
        const Data& d = data(static_cast<std::size_t>(size));
        for (const auto& [name, work] : works()) {
            work(d);
            const std::string label = name + "/" + std::to_string(size);
            CALLGRIND_ZERO_STATS;
            work(d);
            CALLGRIND_DUMP_STATS_AT(label.c_str());
        }
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// "operation/variant/size" -> the median time (ns) from Google Benchmark's
// JSON output, and the instruction count from callgrind's dumps.
using Figures = std::map<std::string, double>;

void addMedianTimes(const std::string& path, Figures& times)
{
    const nlohmann::json results = nlohmann::json::parse(readFile(path));
    for (const auto& run : results.at("benchmarks")) {
        if (run.value("aggregate_name", std::string()) == "median") {
            times[run.at("run_name").get<std::string>()] = run.at("real_time").get<double>();
        }
    }
}

Figures instructionCounts(const std::string& prefix)
{
    Figures counts;
    for (int dump = 1;; ++dump) {
        std::ifstream in(prefix + "." + std::to_string(dump));
        if (!in) {
            return counts;
        }
        std::string line, name;
        while (std::getline(in, line)) {
            if (line.rfind("desc: Trigger: Client Request: ", 0) == 0) {
                name = line.substr(std::strlen("desc: Trigger: Client Request: "));
            } else if (line.rfind("summary: ", 0) == 0) {
                counts[name] = std::stod(line.substr(std::strlen("summary: ")));
            }
        }
    }
}

// One line per operation and size: the container beside plain jsoncpp (the
// delimited round trip beside nlohmann::json's), in time and in instructions.
void printTable(const Figures& times, const Figures& counts)
{
    const auto ratio = [](const Figures& figures, const std::string& ours, const std::string& theirs) {
        const auto a = figures.find(ours);
        const auto b = figures.find(theirs);
        return a == figures.end() || b == figures.end() || b->second == 0 ? 0.0 : a->second / b->second;
    };
    const auto figure = [](const Figures& figures, const std::string& key) {
        const auto it = figures.find(key);
        return it == figures.end() ? 0.0 : it->second;
    };
    std::printf("%-18s %7s | %12s %12s %6s | %13s %13s %6s | %s\n", "operation", "entries", "container ns",
                "baseline ns", "ratio", "container Ir", "baseline Ir", "ratio", "baseline");
    for (const auto& [name, work] : works()) {
        const std::size_t slash = name.find('/');
        if (name.compare(slash, std::string::npos, "/container") != 0) {
            continue;
        }
        const std::string operation = name.substr(0, slash);
        const std::string peer = operation == "roundTrip" ? "nlohmann" : "jsoncpp";
        for (const int size : sizes) {
            const std::string ours = name + "/" + std::to_string(size);
            const std::string theirs = operation + "/" + peer + "/" + std::to_string(size);
            std::printf("%-18s %7d | %12.0f %12.0f %6.2f | %13.0f %13.0f %6.2f | %s\n", operation.c_str(), size,
                        figure(times, ours), figure(times, theirs), ratio(times, ours, theirs), figure(counts, ours),
                        figure(counts, theirs), ratio(counts, ours, theirs), peer.c_str());
        }
    }
}

} // namespace

// CParametersBench [benchmark options]       time the works
// CParametersBench --count-instructions      under callgrind: one dump per work
// CParametersBench --table PREFIX TIMES...   the table from callgrind's dumps
//                                            and Google Benchmark's JSON output
int main(int argc, char** argv)
{
    registerAll();
    if (argc == 2 && std::strcmp(argv[1], "--count-instructions") == 0) {
        countInstructions();
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--table") == 0) {
        Figures times;
        for (int i = 3; i < argc; ++i) {
            addMedianTimes(argv[i], times);
        }
        printTable(times, instructionCounts(argv[2]));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
