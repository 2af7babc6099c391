// The server reads fields by slot, so a field declared out of place breaks the protocol without
// any compile error. These checks pin the slots the two sides rely on.
#include "ipc_tools/tamsu_ipc_generated.h"

#include <gtest/gtest.h>

namespace tamsu_ipc {
namespace {

constexpr int slot(flatbuffers::voffset_t vtable_offset)
{
    return (vtable_offset - 4) / 2;
}

// The last slot of each table pins the count of the fields before it.
TEST(WireSchemaTest, SlotsEnumerationsAndUnionTags)
{
    EXPECT_EQ(slot(MessageData::VT_VERSION), 0);
    EXPECT_EQ(slot(MessageData::VT_CONTENT), 3);
    EXPECT_EQ(slot(SimpleRequestData::VT_TEXT), 2);
    EXPECT_EQ(slot(SimpleReplyData::VT_TEXT), 2);
    EXPECT_EQ(sizeof(ProtocolVersion), 12u);
    EXPECT_EQ(static_cast<int>(MessageContent::ServerStats), 5);
    EXPECT_EQ(static_cast<int>(TraceResults::RunlengthTraceData), 2);
    EXPECT_EQ(slot(ReadBlockData::VT_SCALING_OVERRIDE), 10);
    EXPECT_EQ(slot(ScalingOverrideData::VT_MED_ABS_DEV), 1);
    EXPECT_EQ(slot(CalledBlockData::VT_TRACE_RESULTS), 19);
    EXPECT_EQ(slot(CalledBlockData::VT_ALIGNMENTS), 23);
    EXPECT_EQ(slot(FlipflopTraceData::VT_TRACE), 1);
    EXPECT_EQ(slot(RunlengthTraceData::VT_RUN_VALUES_4), 6);
    EXPECT_EQ(slot(ReadScalingData::VT_PT_DETECT_SUCCESS), 5);
    EXPECT_EQ(slot(BaseModData::VT_PROBABILITIES), 2);
    EXPECT_EQ(slot(BarcodingResultsData::VT_ADAPTER), 16);
    EXPECT_EQ(slot(BarcodeResultData::VT_INDEX), 4);
    EXPECT_EQ(slot(MidBarcodeResultData::VT_END_INDEX), 2);
    EXPECT_EQ(slot(LampResultData::VT_TARGET_SCORE), 3);
    EXPECT_EQ(slot(AdapterResultData::VT_END_INDEX), 2);
    EXPECT_EQ(slot(AlignmentResultData::VT_DIRECTION), 17);
    EXPECT_EQ(slot(ConfigListData::VT_LAMP_KITS), 4);
    EXPECT_EQ(slot(ConfigDetailsData::VT_MODEL_TYPE), 7);
    EXPECT_EQ(slot(AlignmentIndexData::VT_HEADER), 1);
    EXPECT_EQ(slot(BarcodeKitDefinition::VT_NAME_FORMAT), 8);
    EXPECT_EQ(slot(LampKitDefinition::VT_TARGETS), 4);
    EXPECT_EQ(slot(ServerStats::VT_CLIENTS), 4);
    EXPECT_EQ(slot(ClientStatsData::VT_VALUE_1), 1);
}

}  // namespace
}  // namespace tamsu_ipc
