#include "base/amf0_reader.h"
#include "base/amf0_writer.h"

#include <benchmark/benchmark.h>

using namespace ondaline;

namespace {

Bytes onStatusReply()
{
    Bytes out;
    appendAMF0String(out, "onStatus");
    appendAMF0Number(out, 0);
    appendAMF0Null(out);
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "level", "status");
    appendAMF0Property(out, "code", "NetStream.Publish.Start");
    appendAMF0Property(out, "description", "Start publishing");
    appendAMF0ObjectEnd(out);
    return out;
}

void BM_AMF0EncodeOnStatus(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(onStatusReply());
}
BENCHMARK(BM_AMF0EncodeOnStatus);

void BM_AMF0DecodeOnStatus(benchmark::State& state)
{
    const Bytes reply = onStatusReply();
    for (auto _ : state) {
        std::int64_t at = 0;
        while (auto value = readAMF0Value(reply, at)) {
            at += value->consumed;
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_AMF0DecodeOnStatus);

}  // namespace
