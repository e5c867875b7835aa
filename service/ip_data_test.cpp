#include "service/ip_data.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "platform/blocking_socket.h"

namespace {

using ombrix::platform::UniqueFd;

// Two connected stream sockets: the test writes raw bytes into one, the reader reads the other.
struct Pair {
    CBlockingSocket reader;
    UniqueFd writer;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
        reader = CBlockingSocket(UniqueFd(fds[0]));
        writer.reset(fds[1]);
    }
    void send(const std::vector<unsigned char>& bytes) {
        ASSERT_EQ(::send(writer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
};

std::vector<unsigned char> header(uint32_t length, uint32_t type, uint32_t magic = 0xABCDDCBAu) {
    CIPData record(type, 7);
    auto bytes = record.Bytes();
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<unsigned char>(length >> (8 * i));
        bytes[16 + i] = static_cast<unsigned char>(magic >> (8 * i));
    }
    return bytes;
}

TEST(CIPData, WireLayoutAndPayloadRules) {
    CIPData record(15, 3);
    record.SetText("E:/img/a.om4|pw");
    auto bytes = record.Bytes();
    ASSERT_EQ(bytes.size(), 36u + 16u);
    EXPECT_EQ(bytes[4], 52);     // total length
    EXPECT_EQ(bytes[12], 15);    // type
    EXPECT_EQ(bytes[16], 0xBA);  // magic, little-endian
    EXPECT_EQ(bytes[19], 0xAB);
    EXPECT_EQ(bytes[24], 3);     // data word
    EXPECT_EQ(bytes[28], 0xA0);  // 4000 ms
    EXPECT_EQ(bytes[29], 0x0F);
    EXPECT_EQ(bytes.back(), 0);

    // A text is read only when the payload ends with a zero byte.
    CIPData unterminated;
    unterminated.SetPayload({'a', 'b'});
    std::string text = "old";
    EXPECT_FALSE(unterminated.Text(text));
    EXPECT_TRUE(unterminated.Texts().empty());

    CIPData list;
    list.SetTexts({"A|0|0|(A:)", "B|1|1|/x"});
    EXPECT_EQ(list.Payload().size(), 11u + 9u + 1u);
    EXPECT_EQ(list.Texts(), (std::vector<std::string>{"A|0|0|(A:)", "B|1|1|/x"}));
    CIPData empty;
    empty.SetTexts({});
    EXPECT_TRUE(empty.Texts().empty());
}

TEST(CIPData, ReaderTakesRecordsAndRefusesForgedHeaders) {
    {
        Pair pair;
        CIPData sent(13, 4);
        sent.SetText("hello");
        pair.send(sent.Bytes());
        CIPData got;
        ASSERT_EQ(ReadIPData(pair.reader, got, 1000), IPHeaderCheck::kGood);
        EXPECT_EQ(got.Type(), 13u);
        EXPECT_EQ(got.Data(), 4u);
        std::string text;
        EXPECT_TRUE(got.Text(text));
        EXPECT_EQ(text, "hello");
    }
    {
        Pair pair;
        pair.send(header(36, 13, 0x12345678));
        CIPData got;
        EXPECT_EQ(ReadIPData(pair.reader, got, 1000), IPHeaderCheck::kWrongMagic);
    }
    for (uint32_t length : {0u, 35u, 0x80000000u, 0xFFFFFFFFu}) {
        Pair pair;
        pair.send(header(length, 13));
        CIPData got;
        EXPECT_EQ(ReadIPData(pair.reader, got, 1000), IPHeaderCheck::kBadLength) << length;
    }
}

TEST(CIPData, ShortOrSlowSendersEndInSocketErrors) {
    {
        // The length promises more than follows, then the sender closes.
        Pair pair;
        auto bytes = header(36 + 100, 13);
        bytes.push_back('x');
        pair.send(bytes);
        pair.writer.reset();
        CIPData got;
        try {
            ReadIPData(pair.reader, got, 1000);
            FAIL() << "no exception";
        } catch (const CBlockingSocketException& e) {
            EXPECT_STREQ(e.what(), "ReadIPData Error");
        }
    }
    {
        // Half a header and silence: the whole record has one time-out.
        Pair pair;
        pair.send({1, 2, 3});
        CIPData got;
        auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(ReadIPData(pair.reader, got, 200), CBlockingSocketException);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    {
        // A sender trickling bytes cannot stretch the record's time-out.
        Pair pair;
        auto bytes = header(36, 13);
        std::thread trickle([&] {
            for (unsigned char b : bytes) {
                if (::send(pair.writer.get(), &b, 1, MSG_NOSIGNAL) != 1) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        CIPData got;
        try {
            ReadIPData(pair.reader, got, 300);
            ADD_FAILURE() << "no exception";
        } catch (const CBlockingSocketException& e) {
            EXPECT_STREQ(e.what(), "Receive timeout Error");
        }
        trickle.join();
    }
}

TEST(CBlockingSocketException, Texts) {
    EXPECT_STREQ(CBlockingSocketException("Connect", 10061).what(), "Connect Error #10061");
    EXPECT_STREQ(CBlockingSocketException("Send timeout", 0).what(), "Send timeout Error");
}

}  // namespace
