// The client's own CPU cost per read, without the transport, next to a memcpy of the same bytes:
// turning a read into its block messages (and the copy of block 0 kept for a retry), and
// verifying and reassembling the called blocks of a toy-called read with moves and trace.
//   client_cpu_per_read [Google Benchmark flags]
#include "basecall_service/called_read_assembler.h"
#include "basecall_service/read_buffer.h"
#include "ipc_tools/message.h"
#include "server/called_read.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"

#include <benchmark/benchmark.h>
#include <boost/log/core/core.hpp>

#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr unsigned long k_stride = 5;
constexpr std::size_t k_block_strides = 50000;

std::vector<std::int16_t> make_signal(std::size_t samples)
{
    std::vector<std::int16_t> signal(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        signal[i] = static_cast<std::int16_t>(400 + (i * 7919) % 200 + (i / 9 % 7) * 40);
    }
    return signal;
}

interfaces::ReadHolder make_read(std::uint64_t tag, const std::vector<std::int16_t>& signal)
{
    interfaces::ReadHolder read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", std::string("bench_read"));
    metadata.insert("daq_offset", 0.f);
    metadata.insert("daq_scaling", 1.f);
    metadata.insert("duration", static_cast<unsigned long>(signal.size()));
    metadata.insert("model_stride", k_stride);
    read.get_datasets().emplace(interfaces::dataset::raw_data,
                                vask::data_wrappers::DataView(signal.data(), signal.size()));
    return read;
}

std::size_t sample_count(const benchmark::State& state)
{
    return static_cast<std::size_t>(state.range(0));
}

// The baseline: one memcpy of `bytes` between two buffers that stay allocated.
void copy_bytes(benchmark::State& state, std::size_t bytes)
{
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_MemcpySignal(benchmark::State& state)
{
    copy_bytes(state, sample_count(state) * sizeof(std::int16_t));
}

// A read through the read buffer as the engine moves it: queued (its block messages built),
// block 0 copied for sending, submitted, retrieved and collected.
void BM_BuildBlockMessages(benchmark::State& state)
{
    const auto signal = make_signal(sample_count(state));
    basecall_service::ReadBuffer buffer;
    buffer.set_block_size(k_block_strides);
    buffer.set_max_input_queue_size(4);
    buffer.set_connection_id("client-1-bench");
    std::list<std::unique_ptr<interfaces::ReadHolder>> done;
    std::uint64_t tag = 0;
    for (auto _ : state) {
        auto read = make_read(++tag, signal);
        buffer.queue_read(read, 0);
        auto first = buffer.next_read_messages().front().copy();
        benchmark::DoNotOptimize(first.get_message_data());
        buffer.read_submitted();
        buffer.read_retrieved(tag);
        buffer.get_reads_out(done);
        done.clear();
    }
    state.SetBytesProcessed(
            static_cast<std::int64_t>(state.iterations() * signal.size() * sizeof(std::int16_t)));
}

// The called blocks of one toy-called read, as the server sends them.
std::vector<std::vector<char>> called_block_replies(const std::vector<std::int16_t>& signal)
{
    const auto& config = *reference_server::find_config("toy_flipflop_fast");
    reference_server::CompletedRead read;
    read.read_tag = 1;
    read.read_id = "bench_read";
    read.duration = static_cast<std::uint32_t>(signal.size());
    read.daq_scaling = 1.f;
    read.result = reference_server::ToyCaller::call(signal, 0.f, 1.f, config, {});
    std::vector<std::uint32_t> block_samples;
    for (std::size_t offset = 0; offset < signal.size(); offset += k_stride * k_block_strides) {
        block_samples.push_back(static_cast<std::uint32_t>(
                std::min(k_stride * k_block_strides, signal.size() - offset)));
    }
    read.blocks = reference_server::ToyCaller::block_ranges(read.result, block_samples);
    std::vector<std::vector<char>> replies;
    for (std::uint32_t block = 0; block < read.blocks.size(); ++block) {
        flatbuffers::FlatBufferBuilder builder;
        reference_server::build_called_block(builder, read, block, 0);
        const auto* data = reinterpret_cast<const char*>(builder.GetBufferPointer());
        replies.emplace_back(data, data + builder.GetSize());
    }
    return replies;
}

std::size_t total_size(const std::vector<std::vector<char>>& replies)
{
    std::size_t bytes = 0;
    for (const auto& reply : replies) {
        bytes += reply.size();
    }
    return bytes;
}

void BM_MemcpyReplies(benchmark::State& state)
{
    copy_bytes(state, total_size(called_block_replies(make_signal(sample_count(state)))));
}

// Every called block received (a ZeroMQ message taken over and verified) and reassembled into a
// read's datasets. The messages wrap the prepared replies without copying them, as ZeroMQ hands
// over the buffer it received into: receiving is the transport's cost, not reassembly's.
void BM_ReassembleCalledRead(benchmark::State& state)
{
    const auto signal = make_signal(sample_count(state));
    const auto replies = called_block_replies(signal);
    for (auto _ : state) {
        basecall_service::CalledReadAssembler assembler(false, false);
        interfaces::ReadHolder read;
        bool ok = true;
        for (std::size_t i = 0; i < replies.size() && ok; ++i) {
            zmq::message_t received(const_cast<char*>(replies[i].data()), replies[i].size(),
                                    nullptr);
            const ipc_tools::Message reply(received);
            const auto* block =
                    reply.get_message_data()->content_as_ReadBlockData()->called_block();
            ok = i > 0 ||
                 (assembler.check_first_block(*block) && assembler.prepare(*block, signal.size()));
            ok = ok && assembler.append(*block);
        }
        if (!ok || !assembler.add_datasets(read)) {
            state.SkipWithError(assembler.error_state().message.c_str());
            break;
        }
        benchmark::DoNotOptimize(read.get_datasets().size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total_size(replies)));
}

void read_sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Arg(4000)->Arg(40000)->Arg(400000);
}

BENCHMARK(BM_MemcpySignal)->Apply(read_sizes);
BENCHMARK(BM_BuildBlockMessages)->Apply(read_sizes);
BENCHMARK(BM_MemcpyReplies)->Apply(read_sizes);
BENCHMARK(BM_ReassembleCalledRead)->Apply(read_sizes);

}  // namespace

int main(int argc, char** argv)
{
    boost::log::core::get()->set_logging_enabled(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
