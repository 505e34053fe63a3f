// Reading a large station list: 10,000 stations with 3 servers each. Targets:
// under 50 ms per parse, and a peak memory growth under 10 times the file size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "directory/channel_list_model.h"

namespace {

constexpr int kStations = 10000;
constexpr int kServersPerStation = 3;

std::string MakeList() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orvantisclient version=\"3\">\n"
                      "  <description>\n    <url value=\"http://127.0.0.1:8080/\"/>\n"
                      "    <provider value=\"Benchmark\"/>\n    <build value=\"1\"/>\n"
                      "  </description>\n  <stationlist>\n";
    char line[256];
    for (int i = 1; i <= kStations; ++i) {
        std::snprintf(line, sizeof line,
                      "    <station>\n      <id value=\"%d\"/>\n"
                      "      <name value=\"Station %d \xC3\x96 Radio &amp; Friends\"/>\n"
                      "      <serverlist>\n",
                      i, i);
        xml += line;
        for (int s = 0; s < kServersPerStation; ++s) {
            std::snprintf(line, sizeof line,
                          "        <server url=\"http://stream%d.example.net:8000/station-%d-128.mp3\"/>\n",
                          s, i);
            xml += line;
        }
        xml += "      </serverlist>\n    </station>\n";
    }
    xml += "  </stationlist>\n</orvantisclient>\n";
    return xml;
}

std::string WriteList() {
    static std::string path;
    if (!path.empty()) return path;
    char name[] = "/tmp/orvantis-bench-channels-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return path;
    std::string xml = MakeList();
    if (write(fd, xml.data(), xml.size()) != static_cast<ssize_t>(xml.size())) std::abort();
    close(fd);
    path = name;
    std::atexit([] { std::remove(path.c_str()); });
    return path;
}

long StatusKb(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long value = -1;
    size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0) value = std::strtol(line + length, nullptr, 10);
    std::fclose(status);
    return value;
}

// Resets the peak resident size so the next reading covers only what follows.
bool ResetPeak() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (!refs) return false;
    bool ok = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && ok;
}

void BM_ParseLargeList(benchmark::State& state) {
    std::string path = WriteList();
    long fileBytes = static_cast<long>(MakeList().size());
    for (auto _ : state) {
        ChannelListModel list;
        ParseOutcome outcome = list.ParseFile(path.c_str());
        if (outcome != ParseOutcome::Ok || list.channelCount != kStations) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(list.first);
    }
    state.counters["file_bytes"] = static_cast<double>(fileBytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * fileBytes);
}


// One parse in a settled process: how far the resident size rises above
// where it started, against the file size. Runs first, before the timing
// loop leaves freed memory around to be reused.
void BM_PeakMemory(benchmark::State& state) {
    std::string path = WriteList();
    double fileBytes = static_cast<double>(MakeList().size());
    double peakGrowth = 0;
    for (auto _ : state) {
        malloc_trim(0);
        if (!ResetPeak()) {
            state.SkipWithError("cannot reset the peak resident size");
            break;
        }
        long before = StatusKb("VmRSS:");
        {
            ChannelListModel list;
            list.ParseFile(path.c_str());
            benchmark::DoNotOptimize(list.first);
        }
        long peak = StatusKb("VmHWM:");
        peakGrowth = static_cast<double>(peak - before) * 1024.0;
    }
    state.counters["peak_growth_bytes"] = peakGrowth;
    state.counters["times_file_size"] = peakGrowth / fileBytes;
}
BENCHMARK(BM_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLargeList)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
