#include "basecall_service/read_processing_protocol.h"

#include "basecall_service/called_read_assembler.h"
#include "basecall_service/read_buffer.h"
#include "basecall_service/request_broker_adapter.h"
#include "common/contract.h"
#include "common/logger.h"
#include "interfaces/read_alignment_helper.h"

#include <algorithm>
#include <chrono>
#include <cstring>

TAMSU_HFTRACE_DOMAIN(basecall_service, ReadProcessingProtocol)

namespace basecall_service {

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

using FrequentTrace =
        common::tracing::TraceDomainHelper<hftrace::basecall_service::ReadProcessingProtocol>;
using vask::data_wrappers::Metadata;

constexpr std::uint32_t k_events_not_wanted = 1;
constexpr std::uint32_t k_state_data_wanted = 2;
constexpr std::size_t k_max_genome_name = interfaces::ReadAlignmentHelper::GENOME_FIELD_SIZE - 1;

std::string text(const flatbuffers::String* value)
{
    return value ? value->str() : std::string();
}

std::string type_name(const Message& message)
{
    return ipc_tools::message_type_as_string(message.get_type());
}

const tamsu_ipc::ReadBlockData* read_block(const Message& message)
{
    return message.empty() ? nullptr : message.get_message_data()->content_as_ReadBlockData();
}

unsigned long as_ulong(std::uint32_t value)
{
    return value;
}

// The keys every called read gets, from "basecall_type" to "trimmed_samples".
void write_call_metadata(const tamsu_ipc::CalledBlockData& first, Metadata& metadata)
{
    metadata.insert("basecall_type", text(first.basecall_type()));
    metadata.insert("mean_qscore", first.mean_qscore());
    metadata.insert("call_score", first.call_score());
    metadata.insert("stay_prob", first.stay_prob());
    metadata.insert("step_prob", first.step_prob());
    metadata.insert("skip_prob", first.skip_prob());
    metadata.insert("label_length", as_ulong(first.label_length()));
    metadata.insert("model_stride", as_ulong(first.model_stride()));
    metadata.insert("state_size", as_ulong(first.state_size()));
    metadata.insert("median", first.median());
    metadata.insert("med_abs_dev", first.med_abs_dev());
    metadata.insert("trimmed_samples", as_ulong(first.trimmed_samples()));
}

void write_scaling_metadata(const tamsu_ipc::ReadScalingData& scaling, Metadata& metadata)
{
    metadata.insert("scaling_median", scaling.scaling_median());
    metadata.insert("scaling_med_abs_dev", scaling.scaling_med_abs_dev());
    metadata.insert("pt_median", scaling.pt_median());
    metadata.insert("ptsd", scaling.ptsd());
    metadata.insert("adapter_max", scaling.adapter_max());
    metadata.insert("pt_detect_success", scaling.pt_detect_success());
}

void write_barcode_end(const char* end, const tamsu_ipc::BarcodeResultData& result,
                       const char* index_key, Metadata& metadata)
{
    const std::string prefix = std::string("barcode_") + end + "_";
    const auto foundseq = text(result.foundseq());
    metadata.insert(prefix + "id", text(result.id()));
    metadata.insert(prefix + "refseq", text(result.refseq()));
    metadata.insert(prefix + "foundseq", foundseq);
    metadata.insert(prefix + "score", result.score());
    metadata.insert(prefix + "foundseq_length", static_cast<int>(foundseq.size()));
    metadata.insert(prefix + index_key, result.index());
}

void write_mid_barcode(const char* end, const tamsu_ipc::MidBarcodeResultData& result,
                       Metadata& metadata)
{
    const std::string prefix = std::string("barcode_mid_") + end + "_";
    metadata.insert(prefix + "id", text(result.id()));
    metadata.insert(prefix + "score", result.score());
    metadata.insert(prefix + "end_index", result.end_index());
}

// Every part is present: the first block was checked.
void write_barcoding_metadata(const tamsu_ipc::BarcodingResultsData& barcoding, Metadata& metadata)
{
    metadata.insert("barcode_trim_front", barcoding.trim_front());
    metadata.insert("barcode_trim_rear", barcoding.trim_rear());
    metadata.insert("barcode_score", barcoding.score());
    metadata.insert("barcode_full_arrangement", text(barcoding.full_arrangement()));
    metadata.insert("barcode_kit", text(barcoding.kit()));
    metadata.insert("barcode_arrangement", text(barcoding.arrangement()));
    metadata.insert("barcode_variant", text(barcoding.variant()));
    write_barcode_end("front", *barcoding.front(), "begin_index", metadata);
    metadata.insert("barcode_front_id_inner", text(barcoding.front_id_inner()));
    metadata.insert("barcode_front_score_inner", barcoding.front_score_inner());
    write_mid_barcode("front", *barcoding.mid_front(), metadata);
    write_barcode_end("rear", *barcoding.rear(), "end_index", metadata);
    metadata.insert("barcode_rear_id_inner", text(barcoding.rear_id_inner()));
    metadata.insert("barcode_rear_score_inner", barcoding.rear_score_inner());
    write_mid_barcode("rear", *barcoding.mid_rear(), metadata);
    const auto& lamp = *barcoding.lamp();
    metadata.insert("lamp_barcode_id", text(lamp.barcode_id()));
    metadata.insert("lamp_target_id", text(lamp.target_id()));
    metadata.insert("lamp_barcode_score", lamp.barcode_score());
    metadata.insert("lamp_target_score", lamp.target_score());
    metadata.insert("adapter_score", barcoding.adapter()->score());
    metadata.insert("adapter_end_index", barcoding.adapter()->end_index());
}

// The keys that depend on the read's duration, then scaling, barcoding and base modifications.
void write_read_metadata(const tamsu_ipc::CalledBlockData& first, unsigned long duration,
                         const CalledReadAssembler& assembler, Metadata& metadata)
{
    const unsigned long stride = first.model_stride();
    const unsigned long trimmed = std::min<unsigned long>(first.trimmed_samples(), duration);
    metadata.insert("trimmed_duration", duration - trimmed);
    metadata.insert("num_events", duration / stride);
    metadata.insert("trimmed_events", (duration - trimmed) / stride);
    metadata.insert("sequence_length", as_ulong(first.sequence_length()));
    metadata.insert("rle_count", as_ulong(assembler.total_runs()));
    if (first.scaling()) {
        write_scaling_metadata(*first.scaling(), metadata);
    }
    if (first.barcoding()) {
        write_barcoding_metadata(*first.barcoding(), metadata);
    }
    metadata.insert("base_mod_alphabet", assembler.base_mod_alphabet());
    metadata.insert("base_mod_long_names", assembler.base_mod_long_names());
}

unsigned long duration_of(const interfaces::ReadHolder& read)
{
    unsigned long* duration = nullptr;
    return read.get_metadata().extract("duration", duration) ? *duration : 0;
}

}  // namespace

ErrorState ReadProcessingProtocol::process_reads(ReadBuffer* read_buffer,
                                                 RequestBrokerAdapter* broker)
{
    common::contract::expects(!m_connection_id.empty(),
                              "process_reads requires valid connection id");
    common::contract::expects(broker != nullptr, "process_reads requires valid request_broker");
    common::contract::expects(read_buffer != nullptr, "process_reads requires valid read_buffer");
    const auto trace = create_trace("process_reads");
    m_read_buffer = read_buffer;
    m_error_state = ErrorState();

    while (keep_alive()) {
        if (!broker->ping_server_if_quiet(m_connection_id)) {
            m_error_state = broker->error_state();
            break;
        }
        // Idle, it sleeps until a read is passed, a stop wakes it or a ping is due.
        if (!read_buffer->wait_for_reads(broker->time_until_ping())) {
            continue;
        }
        if (read_buffer->num_queued_reads() != 0 && !push_into_server(broker)) {
            break;
        }
        if (read_buffer->num_submitted_reads() != 0 && !pull_from_server(broker)) {
            break;
        }
    }
    trace.message([this] { return to_string(m_error_state); });
    return m_error_state;
}

void ReadProcessingProtocol::stop()
{
    write_trace("stop", "stop");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
}

bool ReadProcessingProtocol::keep_alive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stop;
}

void ReadProcessingProtocol::set_connection_id(std::string id)
{
    write_trace("set_connection_id", id);
    m_connection_id = std::move(id);
}

void ReadProcessingProtocol::set_disable_events(bool disable_events)
{
    m_disable_events = disable_events;
    write_trace("set_disable_events", disable_events ? "1" : "0");
}

void ReadProcessingProtocol::set_pull_state_data(bool pull_state_data)
{
    m_pull_state_data = pull_state_data;
    write_trace("set_pull_state_data", pull_state_data ? "1" : "0");
}

bool ReadProcessingProtocol::fail(ConnectionError code, std::string message)
{
    m_error_state = {code, std::move(message)};
    write_trace("error", [this] { return to_string(m_error_state); });
    return false;
}

bool ReadProcessingProtocol::push_into_server(RequestBrokerAdapter* broker)
{
    FrequentTrace::write_trace("push_into_server", "push_into_server");
    auto& messages = m_read_buffer->next_read_messages();
    common::contract::expects(!messages.empty(), "queued read has no block messages");
    const auto* first = read_block(messages.front());
    const auto tag = std::to_string(first ? first->read_tag() : 0);
    FrequentTrace::write_trace("push_into_server", [&] { return "read_tag: " + tag; });

    for (std::size_t index = 0; index < messages.size(); ++index) {
        // Block 0 goes as a second holder of its bytes, so the read can be offered again after
        // NOT_READY without copying them.
        Message request = index == 0 ? messages[0].copy() : std::move(messages[index]);
        Message reply;
        if (!broker->send_request(request, reply)) {
            m_error_state = broker->error_state();
            return false;
        }
        if (reply.get_type() == MessageType::RAW_BLOCK_ACCEPTED) {
            continue;
        }
        if (reply.get_type() == MessageType::NOT_READY && index == 0) {
            return true;
        }
        if (reply.get_type() == MessageType::NOT_READY) {
            write_trace("push_into_server", "Server rejected block: " + std::to_string(index));
            return fail(ConnectionError::bad_reply,
                        "Server accepted first block of read, but then rejected subsequent block "
                        "for read: " +
                                tag);
        }
        return fail(ConnectionError::invalid_response,
                    "Failed to push to server, invalid reply: " + type_name(reply) +
                            " from basecall server when passing raw read data for read: " + tag +
                            ". Connection id: " + m_connection_id);
    }
    m_read_buffer->read_submitted();
    return true;
}

bool ReadProcessingProtocol::pull_from_server(RequestBrokerAdapter* broker)
{
    const std::uint32_t flags = (m_disable_events ? k_events_not_wanted : 0) +
                                (m_pull_state_data ? k_state_data_wanted : 0);
    Message request(MessageType::GET_FIRST_CALLED_BLOCK, m_connection_id, flags, "");
    Message reply;
    if (!broker->send_request(request, reply)) {
        m_error_state = broker->error_state();
        return false;
    }
    if (reply.get_type() == MessageType::NONE_PENDING) {
        const auto* pending = reply.get_message_data()->content_as_SimpleReplyData();
        if (pending && pending->value() == 1) {
            TAMSU_LOG(warning, "One or more reads has been lost on the server.");
            m_read_buffer->clear_submitted_reads();
        }
        return true;
    }
    if (reply.get_type() != MessageType::RETURN_FIRST_CALLED_BLOCK) {
        return fail(ConnectionError::invalid_response,
                    "Failed to pull from server, invalid reply: " + type_name(reply));
    }
    FrequentTrace::write_trace("pull_from_server", "pull_from_server");

    const auto* block = read_block(reply);
    const auto* first = block->called_block();
    if (first == nullptr) {
        return fail(ConnectionError::invalid_response,
                    "Failed to pull from server, first called block carries no result");
    }
    const std::uint32_t tag = block->read_tag();
    auto* read = m_read_buffer->get_submitted_read_holder(tag);
    if (read == nullptr) {
        return fail(ConnectionError::bad_reply,
                    "Returned read does not belong to this client: " + std::to_string(tag));
    }
    CalledReadAssembler assembler(m_disable_events, m_pull_state_data);
    if (!assembler.check_first_block(*first)) {
        m_error_state = assembler.error_state();
        return false;
    }
    auto& metadata = read->get_metadata();
    write_call_metadata(*first, metadata);
    const auto duration = duration_of(*read);
    if (duration == 0) {
        return fail(ConnectionError::failed,
                    "Duration metadata missing for submitted read: " + std::to_string(tag));
    }
    if (!assembler.prepare(*first, duration)) {
        m_error_state = assembler.error_state();
        return false;
    }
    write_read_metadata(*first, duration, assembler, metadata);
    if (!store_alignments(*first, *read) || !assembler.append(*first) ||
        !fetch_remaining_blocks(broker, tag, block->num_blocks(), assembler)) {
        if (m_error_state.code == ConnectionError::no_error) {
            m_error_state = assembler.error_state();
        }
        return false;
    }
    if (!assembler.add_datasets(*read)) {
        m_error_state = assembler.error_state();
        return false;
    }
    m_read_buffer->read_retrieved(tag);
    return true;
}

bool ReadProcessingProtocol::fetch_remaining_blocks(RequestBrokerAdapter* broker, std::uint32_t tag,
                                                    std::uint32_t num_blocks,
                                                    CalledReadAssembler& assembler)
{
    for (std::uint32_t index = 1; index < num_blocks; ++index) {
        Message request(MessageType::GET_NEXT_CALLED_BLOCK, m_connection_id, tag, "");
        Message reply;
        if (!broker->send_request(request, reply)) {
            m_error_state = broker->error_state();
            return false;
        }
        if (reply.get_type() != MessageType::RETURN_NEXT_CALLED_BLOCK) {
            return fail(ConnectionError::invalid_response,
                        "Failed to get next block from server, invalid reply: " + type_name(reply));
        }
        const auto* block = read_block(reply);
        if (block->read_tag() != tag || block->block_index() != index || !block->called_block()) {
            return fail(ConnectionError::invalid_response,
                        "Failed to get next block from server, expected block " +
                                std::to_string(index) + " of read " + std::to_string(tag) +
                                " but received block " + std::to_string(block->block_index()) +
                                " of read " + std::to_string(block->read_tag()));
        }
        if (!assembler.append(*block->called_block())) {
            return false;
        }
    }
    return true;
}

bool ReadProcessingProtocol::store_alignments(const tamsu_ipc::CalledBlockData& first,
                                              interfaces::ReadHolder& read)
{
    const auto& alignments = *first.alignments();
    std::string sam;
    std::string bed;
    if (alignments.size() > 0) {
        auto table = interfaces::ReadAlignmentHelper::create_alignment_table(alignments.size());
        const auto genome = table.view_field<char>("Genome");
        const auto direction = table.view_field<char>("Direction");
        const auto int_field = [&](const char* name) {
            return table.view_field<std::int32_t>(name);
        };
        const auto float_field = [&](const char* name) { return table.view_field<float>(name); };
        const auto start = int_field("GenomeStart"), end = int_field("GenomeEnd");
        const auto strand_start = int_field("StrandStart"), strand_end = int_field("StrandEnd");
        const auto events = int_field("NumEvents"), insertions = int_field("NumInsertions");
        const auto deletions = int_field("NumDeletions"), aligned = int_field("NumAligned");
        const auto correct = int_field("NumCorrect"), score = int_field("StrandScore");
        const auto bed_hits = int_field("BedHits");
        const auto coverage = float_field("Coverage"), identity = float_field("Identity");
        const auto accuracy = float_field("Accuracy");
        for (flatbuffers::uoffset_t k = 0; k < alignments.size(); ++k) {
            const auto& alignment = *alignments.Get(k);
            const auto name = text(alignment.genome());
            if (name.size() > k_max_genome_name) {
                return fail(
                        ConnectionError::bad_reply,
                        "Alignment genome name " + name + " exceeds maximum allowed size of " +
                                std::to_string(interfaces::ReadAlignmentHelper::GENOME_FIELD_SIZE));
            }
            std::memcpy(&genome[k], name.c_str(), name.size() + 1);
            direction[k] = static_cast<char>(alignment.direction());
            start[k] = alignment.genome_start();
            end[k] = alignment.genome_end();
            strand_start[k] = alignment.strand_start();
            strand_end[k] = alignment.strand_end();
            events[k] = alignment.num_events();
            insertions[k] = alignment.num_insertions();
            deletions[k] = alignment.num_deletions();
            aligned[k] = alignment.num_aligned();
            correct[k] = alignment.num_correct();
            coverage[k] = alignment.coverage();
            identity[k] = alignment.identity();
            accuracy[k] = alignment.accuracy();
            score[k] = alignment.strand_score();
            bed_hits[k] = alignment.bed_hits();
            if (k > 0) {
                sam += '\n';
                if (alignment.bed_hits() != 0) {
                    bed += '\n';
                }
            }
            sam += text(alignment.sam_record());
            bed += text(alignment.bed_lines());
        }
        read.get_datasets().insert_or_assign(interfaces::dataset::align_results,
                                             vask::data_wrappers::DataView(std::move(table)));
    }
    if (!sam.empty()) {
        read.get_metadata().insert("alignment_sam_record", sam);
    }
    if (!bed.empty()) {
        read.get_metadata().insert("alignment_bed_lines", bed);
    }
    return true;
}

}  // namespace basecall_service
