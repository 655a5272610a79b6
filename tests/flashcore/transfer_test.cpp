// Register access and memory requests on the extension unit: the exact property payloads, the pieces of
// the chunked transfer and of the image write, 8-byte reads around 0x10000 and XU6 block headers.
#include "fixture.h"

#include "camsim/image_builder.h"
#include "flashcore/bytes.h"
#include "flashcore/connection/register_access.h"

#include <algorithm>
#include <numeric>

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Transfer = CameraTest;

Bytes head(const camsim::PropertyRecord& r, std::size_t n) {
    return Bytes(r.payload.begin(), r.payload.begin() + n);
}

// Address (low 16 bits plus bits 16..17) and byte count of a property-3 memory write or read request.
struct MemoryPiece {
    std::uint32_t address;
    unsigned count;
    bool readRequest;
};
MemoryPiece piece(const camsim::PropertyRecord& r) {
    return {static_cast<std::uint32_t>(r.payload[0] | (r.payload[1] << 8) | ((r.payload[2] & 0x30) << 12)),
            r.payload[2] & 0x0Fu, (r.payload[2] & 0x80) != 0};
}

TEST_F(Transfer, RegisterPayloads) {
    camsim::Camera& camera = attach(config(7, 'A'));
    ASSERT_EQ(open(camera), 2);
    ASSERT_TRUE(ProcWriteToASIC(0x101F, 0x5A));
    camera.pokeRegister(0x1234, 0x77);
    unsigned char value = 0;
    ASSERT_TRUE(GetSpecReg(0x1234, &value));
    EXPECT_EQ(value, 0x77);
    const auto log = calls(camera, 1);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].payload, (Bytes{0x1F, 0x10, 0x5A, 0x00}));
    EXPECT_EQ(log[1].payload, (Bytes{0x34, 0x12, 0x00, 0xFF}));
    EXPECT_TRUE(log[1].set);
    EXPECT_FALSE(log[2].set);
}

TEST_F(Transfer, EightByteWritePayloadsCarryHighAddressBitsAndCount) {
    camsim::CameraConfig c = config();
    c.flash.size = 0x40000;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    permitWrites(camera);
    unsigned char data[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_TRUE(ReqToDriver2(6, 0x25008, data, 3));
    ASSERT_TRUE(ReqToDriver2(6, 0x25007, data, 3));
    const auto writes = calls(camera, 3);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(head(writes[0], 6), (Bytes{0x08, 0x50, 0x23, 0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(head(writes[1], 4), (Bytes{0x07, 0x50, 0x21, 0xA1}));
    EXPECT_EQ(head(writes[2], 5), (Bytes{0x08, 0x50, 0x22, 0xB2, 0xC3}));
    EXPECT_EQ(camera.flash().contents()[0x25007], 0xA1);
}

TEST_F(Transfer, ChunkedWritePieces) {
    struct Case {
        std::uint32_t address;
        std::uint32_t length;
        std::vector<std::pair<std::uint32_t, unsigned>> pieces;
    };
    const Case cases[] = {
        {0x105, 10, {{0x105, 3}, {0x108, 7}}},
        {0x205, 16, {{0x205, 3}, {0x208, 8}, {0x210, 5}}},
        {0x300, 20, {{0x300, 8}, {0x308, 8}, {0x310, 4}}},
        {0x401, 2, {{0x401, 2}}},
    };
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    permitWrites(camera);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.address << " " << std::dec << c.length);
        camera.log().clear();
        Bytes data(c.length);
        std::iota(data.begin(), data.end(), std::uint8_t{1});
        ASSERT_TRUE(ReqToDriver2(6, c.address, data.data(), c.length));
        const auto writes = calls(camera, 3);
        ASSERT_EQ(writes.size(), c.pieces.size());
        for (std::size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(piece(writes[i]).address, c.pieces[i].first);
            EXPECT_EQ(piece(writes[i]).count, c.pieces[i].second);
        }
        EXPECT_TRUE(std::equal(data.begin(), data.end(), camera.flash().contents().begin() + c.address));
        EXPECT_EQ(GetProgress(), 100);
    }
}

TEST_F(Transfer, EightByteReadsRequestAgainAboveSixtyFourKilobytes) {
    camsim::Camera& camera = attach();
    auto& flash = camera.flash().contents();
    for (std::size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<std::uint8_t>(i * 7 + (i >> 16));
    ASSERT_EQ(open(camera), 2);
    struct Case {
        std::uint32_t address;
        std::uint32_t length;
        std::vector<std::uint32_t> requests; // addresses of the read requests, in order
        std::size_t fetches;
    };
    const Case cases[] = {
        {0x100, 24, {0x100}, 3},
        {0xFFF8, 24, {0xFFF8, 0x10000, 0x10008}, 3},
        {0x10000, 16, {0x10000, 0x10000, 0x10008}, 2},
        {0x200, 13, {0x200, 0x208}, 2}, // the final partial piece is requested with its own length
        {0x300, 5, {0x300}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.address);
        camera.log().clear();
        Bytes out(c.length);
        ASSERT_TRUE(ReqToDriver(7, c.address, out.data(), c.length));
        std::vector<std::uint32_t> requests;
        std::size_t fetches = 0;
        for (const auto& r : calls(camera, 3)) {
            if (!r.set)
                ++fetches;
            else if (piece(r).readRequest)
                requests.push_back(piece(r).address);
        }
        EXPECT_EQ(requests, c.requests);
        EXPECT_EQ(fetches, c.fetches);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), flash.begin() + c.address));
    }
}

// The XU6 block headers of a transfer: start, end and block size of each.
struct Header {
    std::uint32_t start, end;
    unsigned blockSize;
    bool read;
    bool operator==(const Header&) const = default;
};

std::vector<Header> headers(camsim::Camera& camera, std::size_t& blocks) {
    std::vector<Header> out;
    blocks = 0;
    bool expectHeader = true;
    std::uint32_t remaining = 0;
    for (const auto& r : CameraTest::calls(camera, 6)) {
        if (r.set && expectHeader) {
            const auto& p = r.payload;
            out.push_back(
                Header{flashcore::readLe32(p.data()), flashcore::readLe32(p.data() + 6), p[5], p[4] == 0x80});
            EXPECT_EQ(p[10], 0x0B);
            EXPECT_EQ(p[11], 0x01);
            remaining = out.back().end - out.back().start;
            expectHeader = remaining == 0;
        } else {
            ++blocks;
            remaining -= std::min<std::uint32_t>(remaining, out.back().blockSize);
            expectHeader = remaining == 0;
        }
    }
    return out;
}

TEST_F(Transfer, BlockModeHeadersAndBlocks) {
    camsim::Camera& camera = attach();
    auto& flash = camera.flash().contents();
    for (std::size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<std::uint8_t>(i * 13);
    EnableModeXU6(true);
    ASSERT_EQ(open(camera), 3);
    std::size_t blocks = 0;

    Bytes out(100);
    ASSERT_TRUE(ReqToDriver(7, 0, out.data(), 100));
    EXPECT_EQ(headers(camera, blocks), (std::vector<Header>{{0, 64, 64, true}, {64, 100, 36, true}}));
    EXPECT_EQ(blocks, 2u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), flash.begin()));

    camera.log().clear();
    ASSERT_TRUE(ReqToDriver(7, 0x1234, out.data(), 10));
    EXPECT_EQ(headers(camera, blocks), (std::vector<Header>{{0x1234, 0x123E, 10, true}}));
    EXPECT_EQ(blocks, 1u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10, flash.begin() + 0x1234));

    camera.log().clear();
    permitWrites(camera);
    std::fill(flash.begin(), flash.end(), 0xFF);
    Bytes data(192);
    std::iota(data.begin(), data.end(), std::uint8_t{0});
    ASSERT_TRUE(ReqToDriver2(6, 0x4000, data.data(), 192));
    EXPECT_EQ(headers(camera, blocks), (std::vector<Header>{{0x4000, 0x40C0, 64, false}}));
    EXPECT_EQ(blocks, 3u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x4000));
    EXPECT_EQ(GetProgress(), 100);

    unsigned char none[1] = {};
    EXPECT_FALSE(ReqToDriver2(7, 0, nullptr, 8));
    EXPECT_FALSE(ReqToDriver2(7, 0, none, 0));
}

TEST_F(Transfer, CommandsOutsideTheTransportSet) {
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    unsigned char buffer[8] = {};
    EXPECT_TRUE(ReqToDriver(8, 0, buffer, 8));
    EXPECT_FALSE(ReqToDriver2(8, 0, buffer, 8));
    EXPECT_FALSE(ReqToDriver2(10, 0, buffer, 8));
    EXPECT_EQ(calls(camera, 3).size(), 0u);
    EXPECT_EQ(calls(camera, 6).size(), 0u);
}

TEST_F(Transfer, MemoryInformationAndWriteDuplication) {
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    unsigned short address = 0;
    unsigned char type = 0;
    ASSERT_TRUE(GetSectorTableAddr(&address));
    ASSERT_TRUE(GetMemType(&type));
    EXPECT_EQ(address, 0x9000);
    EXPECT_EQ(type, 2);
    ASSERT_TRUE(SetWriteDuplication(0x05, 0x1234));
    const auto writes = calls(camera, 3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(head(writes[0], 6), (Bytes{0x00, 0x00, 0x40, 0x05, 0x34, 0x12}));
}

TEST_F(Transfer, FamilyPreparationBeforeMemoryRequests) {
    camsim::Camera& camera = attach(config(7, 'A'));
    camera.pokeRegister(0x100D, 0xFF);
    ASSERT_EQ(open(camera), 2);
    unsigned char buffer[8];
    ASSERT_TRUE(ReqToDriver2(7, 0, buffer, 8));
    EXPECT_EQ(camera.peekRegister(0x100D), 0xFB);
    EXPECT_EQ(camera.peekRegister(0x1090), 1);

    SetUp();
    camsim::Camera& b = attach(config(13));
    ASSERT_EQ(open(b), 2);
    ASSERT_TRUE(ReqToDriver2(7, 0, buffer, 8));
    EXPECT_EQ(b.peekRegister(0x8045), 4);
    EXPECT_EQ(b.peekRegister(0x8E10), 4);
}

// Every byte of the write exactly once, the CRC word second to last and the marker last when covered.
void expectWriteOrder(std::uint32_t a, std::uint32_t l, std::uint32_t w) {
    SCOPED_TRACE(testing::Message() << std::hex << "A=" << a << " L=" << l << " W=" << w);
    flashcore::WriteRange r[5];
    const int n = flashcore::imageWriteOrder(a, l, w, r);
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 5);
    std::vector<int> written(l, 0);
    for (int i = 0; i < n; ++i) {
        ASSERT_LT(r[i].start, r[i].end);
        ASSERT_GE(r[i].start, a);
        ASSERT_LE(r[i].end, a + l);
        for (std::uint32_t x = r[i].start; x < r[i].end; ++x)
            ++written[x - a];
    }
    EXPECT_TRUE(std::all_of(written.begin(), written.end(), [](int c) { return c == 1; }));
    const bool markerCovered = a < 0x164 && a + l > 0x160;
    if (markerCovered) {
        EXPECT_EQ(r[n - 1].start, std::max(a, 0x160u));
        EXPECT_EQ(r[n - 1].end, std::min(a + l, 0x164u));
    }
    const bool crcCovered = w >= std::max(a, 0x164u) && w + 2 <= a + l;
    if (crcCovered) {
        const auto& c = r[markerCovered ? n - 2 : n - 1];
        EXPECT_EQ(c.start, w);
        EXPECT_EQ(c.end, w + 2);
    }
}

TEST_F(Transfer, ImageWriteOrder) {
    // The usual five pieces of a whole image.
    flashcore::WriteRange r[5];
    ASSERT_EQ(flashcore::imageWriteOrder(0, 0x20000, 0x15D00, r), 5);
    const flashcore::WriteRange expected[5] = {
        {0, 0x160}, {0x164, 0x15D00}, {0x15D02, 0x20000}, {0x15D00, 0x15D02}, {0x160, 0x164}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(r[i].start, expected[i].start);
        EXPECT_EQ(r[i].end, expected[i].end);
    }
    // Three pieces past the marker, one piece when the CRC word lies outside.
    ASSERT_EQ(flashcore::imageWriteOrder(0x1000, 0x1000, 0x1800, r), 3);
    EXPECT_EQ(flashcore::imageWriteOrder(0x1000, 0x1000, 0x3000, r), 1);
    // Placements the plain five-piece rule cannot handle: CRC word below 0x164, on the marker, outside the
    // range, at the range's edge, and a write that ends inside the marker.
    for (std::uint32_t w : {0u, 0x100u, 0x15Fu, 0x160u, 0x162u, 0x163u, 0x164u, 0x1FFFEu, 0x1FFFFu, 0x30000u})
        expectWriteOrder(0, 0x20000, w);
    expectWriteOrder(0x100, 0x62, 0x120);
    expectWriteOrder(0x150, 0x100, 0x200);
    expectWriteOrder(0x162, 0x10, 0x163);
}

TEST_F(Transfer, ImageWriteSendsCrcWordAndMarkerLast) {
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    permitWrites(camera);
    camsim::ImageDescription description;
    description.paraTableStart = 0x15000;
    Bytes image = camsim::buildImage(description);
    ASSERT_TRUE(ReqToDriver(6, 0, image.data(), static_cast<fw_ulong>(image.size())));
    EXPECT_EQ(camera.flash().contents(), image);
    const auto writes = calls(camera, 3);
    ASSERT_GE(writes.size(), 3u);
    // The last pieces: the 2-byte CRC word at the CRC block 0x15D00, then the 4-byte marker.
    const MemoryPiece crc = piece(writes[writes.size() - 2]);
    const MemoryPiece marker = piece(writes.back());
    EXPECT_EQ(crc.address, 0x15D00u);
    EXPECT_EQ(crc.count, 2u);
    EXPECT_EQ(marker.address, 0x160u);
    EXPECT_EQ(marker.count, 4u);
    // An image too short for the long layout's header is refused before anything is sent.
    camera.log().clear();
    EXPECT_FALSE(ReqToDriver(6, 0, image.data(), 0x100));
    EXPECT_EQ(calls(camera, 3).size(), 0u);
}

TEST_F(Transfer, FailedPieceEndsTheRequest) {
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    permitWrites(camera);
    Bytes data(64, 0x00);
    // Two register writes of the family preparation, two pieces, then the third piece fails.
    camera.faults().failTransfer = camera.counters().transfers + 5;
    EXPECT_FALSE(ReqToDriver2(6, 0x1000, data.data(), 64));
    // Pieces before the failure stay written, nothing after it is sent.
    EXPECT_EQ(camera.flash().contents()[0x1000], 0x00);
    EXPECT_EQ(camera.flash().contents()[0x1010], 0xFF);
    EXPECT_EQ(calls(camera, 3).size(), 2u);
}

TEST_F(Transfer, FailedFirstReadRequestFailsTheRead) {
    // Without its read request the fetches would return the data after the previous read.
    camsim::Camera& camera = attach();
    auto& flash = camera.flash().contents();
    for (std::size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(open(camera), 2);
    Bytes out(16);
    ASSERT_TRUE(ReqToDriver(7, 0x100, out.data(), 16));
    // The family preparation writes two registers; the read request is the third transfer.
    camera.faults().failTransfer = camera.counters().transfers + 3;
    EXPECT_FALSE(ReqToDriver(7, 0x800, out.data(), 16));
}

} // namespace
} // namespace fwtest
