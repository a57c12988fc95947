// Conformance of the named-pipe layer over real sockets: one pinned behaviour per test.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/pipe_client.h"
#include "platform/pipe_server_instance.h"
#include "support/temp_runtime_dir.h"

namespace {

std::vector<std::byte> Bytes(size_t n, unsigned char fill = 'x') {
  return std::vector<std::byte>(n, static_cast<std::byte>(fill));
}

class NamedPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTemporaryRuntimeDir();
    name_ = TestPipeName();
    Result<std::unique_ptr<PipeServerInstance>> server = PipeServerInstance::Create(name_);
    ASSERT_TRUE(server) << server.error().context;
    server_ = std::move(*server);
  }

  // Opens a client and has the server take it.
  std::unique_ptr<PipeConnection> ConnectPair() {
    Result<std::unique_ptr<PipeConnection>> client = OpenPipe(name_);
    EXPECT_TRUE(client) << client.error().context;
    EXPECT_TRUE(server_->connect());
    return client ? std::move(*client) : nullptr;
  }

  Text name_;
  std::unique_ptr<PipeServerInstance> server_;
  std::array<std::byte, 2048> buffer_;
};

}  // namespace

// Pinned: a message longer than the reader's buffer fails that read; the rest comes next.
TEST_F(NamedPipeTest, LongMessageFillsTheBufferThenYieldsItsTail) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  std::vector<std::byte> message = Bytes(2050);
  message[2048] = std::byte{'t'};
  ASSERT_TRUE(client->write(message));
  ASSERT_TRUE(client->write(Bytes(3, 'n')));
  Result<PipeConnection::ReadResult> first = server_->connection()->read(buffer_);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->complete);
  EXPECT_EQ(first->size, 2048u);
  Result<PipeConnection::ReadResult> tail = server_->connection()->read(buffer_);
  ASSERT_TRUE(tail);
  EXPECT_TRUE(tail->complete);
  ASSERT_EQ(tail->size, 2u);
  EXPECT_EQ(buffer_[0], std::byte{'t'});
  Result<PipeConnection::ReadResult> next = server_->connection()->read(buffer_);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->size, 3u);  // the following message is whole and separate
}

// Pinned: an empty message is a successful 0-byte read, even when the peer hangs up right after
// sending it; only then does the read report the hang-up.
TEST_F(NamedPipeTest, EmptyMessageIsToldApartFromHangUp) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->write({}));
  client.reset();
  Result<PipeConnection::ReadResult> empty = server_->connection()->read(buffer_);
  ASSERT_TRUE(empty) << empty.error().context;
  EXPECT_EQ(empty->size, 0u);
  EXPECT_TRUE(empty->complete);
  Result<PipeConnection::ReadResult> hang_up = server_->connection()->read(buffer_);
  ASSERT_FALSE(hang_up);
  EXPECT_EQ(hang_up.error().code, EPIPE);
}

// Pinned: while the only instance serves a client, another client is refused at once; after the
// disconnect the instance listens again.
TEST_F(NamedPipeTest, BusyInstanceRefusesAtOnceAndListensAgainAfterDisconnect) {
  auto first = ConnectPair();
  ASSERT_TRUE(first);
  Result<std::unique_ptr<PipeConnection>> second = OpenPipe(name_);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, EBUSY);
  EXPECT_EQ(server_->connect().error().code, EISCONN);
  ASSERT_TRUE(server_->disconnect());
  EXPECT_EQ(server_->disconnect().error().code, ENOTCONN);
  auto third = ConnectPair();
  ASSERT_TRUE(third);
  // The first client sees the disconnect as a hang-up.
  Result<PipeConnection::ReadResult> r = first->read(buffer_);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, EPIPE);
}

// Pinned: a client that connects before the server waits is the one the wait returns.
TEST_F(NamedPipeTest, ClientThatCameBeforeTheWaitIsServed) {
  Result<std::unique_ptr<PipeConnection>> early = OpenPipe(name_);
  ASSERT_TRUE(early);
  ASSERT_TRUE((*early)->write(Bytes(4, 'e')));
  ASSERT_TRUE(server_->connect());
  Result<PipeConnection::ReadResult> r = server_->connection()->read(buffer_);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size, 4u);
}

// Pinned: two instances of one name in a process serve two clients at once; a third is busy.
TEST_F(NamedPipeTest, TwoInstancesServeSideBySide) {
  Result<std::unique_ptr<PipeServerInstance>> other = PipeServerInstance::Create(name_);
  ASSERT_TRUE(other);
  Result<std::unique_ptr<PipeConnection>> a = OpenPipe(name_);
  Result<std::unique_ptr<PipeConnection>> b = OpenPipe(name_);
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(OpenPipe(name_).error().code, EBUSY);
  ASSERT_TRUE(server_->connect());
  ASSERT_TRUE((*other)->connect());
  ASSERT_TRUE((*a)->write(Bytes(1)));
  ASSERT_TRUE((*b)->write(Bytes(2)));
  Result<PipeConnection::ReadResult> ra = server_->connection()->read(buffer_);
  Result<PipeConnection::ReadResult> rb = (*other)->connection()->read(buffer_);
  ASSERT_TRUE(ra);
  ASSERT_TRUE(rb);
  EXPECT_EQ(ra->size + rb->size, 3u);
  // One instance gone: the name is still served by the other once it is free.
  other->reset();
  ASSERT_TRUE(server_->disconnect());
  EXPECT_TRUE(OpenPipe(name_));
}

// Pinned: names differing only in letter case reach the same pipe.
TEST_F(NamedPipeTest, NamesAreCaseInsensitive) {
  Text upper = name_;
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  EXPECT_TRUE(OpenPipe(upper));
}

TEST_F(NamedPipeTest, UnservedNameIsNotFound) {
  Result<std::unique_ptr<PipeConnection>> c = OpenPipe(name_ + u"-nobody");
  ASSERT_FALSE(c);
  EXPECT_EQ(c.error().code, ENOENT);
}

// Pinned: flush returns only after the peer has read what was written.
TEST_F(NamedPipeTest, FlushWaitsForThePeerToRead) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  std::atomic<bool> reading{false};
  auto reader = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    reading = true;
    std::array<std::byte, 16> buffer;
    return client->read(buffer).operator bool();
  });
  ASSERT_TRUE(server_->connection()->write(Bytes(5)));
  ASSERT_TRUE(server_->connection()->flush());
  EXPECT_TRUE(reading.load());
  EXPECT_TRUE(reader.get());
}

// Pinned: close() from another thread wakes a blocked read; later calls fail with EBADF.
TEST_F(NamedPipeTest, CloseWakesABlockedReadAndLaterCallsFail) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  auto reader = std::async(std::launch::async, [&] {
    std::array<std::byte, 16> buffer;
    Result<PipeConnection::ReadResult> r = client->read(buffer);
    return r ? 0 : r.error().code;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(client->close());
  EXPECT_EQ(reader.get(), EBADF);
  EXPECT_EQ(client->write(Bytes(1)).error().code, EBADF);
  EXPECT_EQ(client->close().error().code, EBADF);
  // The server sees the hang-up.
  EXPECT_EQ(server_->connection()->read(buffer_).error().code, EPIPE);
}

// Pinned: close() discards what the peer sent and we never read, so the peer's flush returns.
TEST_F(NamedPipeTest, CloseReleasesAPeerWaitingInFlush) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  ASSERT_TRUE(server_->connection()->write({}));  // an empty message does not end the discard
  ASSERT_TRUE(server_->connection()->write(Bytes(10)));
  auto flusher = std::async(std::launch::async, [&] { return server_->connection()->flush(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(client->close());
  EXPECT_EQ(flusher.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(NamedPipeTest, WaitReadableTimesOutThenSeesAMessage) {
  auto client = ConnectPair();
  ASSERT_TRUE(client);
  Result<bool> none = client->wait_readable(std::chrono::milliseconds(10));
  ASSERT_TRUE(none);
  EXPECT_FALSE(*none);
  ASSERT_TRUE(server_->connection()->write(Bytes(1)));
  Result<bool> some = client->wait_readable(std::chrono::milliseconds(1000));
  ASSERT_TRUE(some);
  EXPECT_TRUE(*some);
}

// Pinned: a client already queued when the last free instance takes another is not dropped with
// the listener; it is served once an instance is free again, and newcomers wait their turn.
TEST_F(NamedPipeTest, QueuedClientSurvivesTheListenersClosing) {
  Result<std::unique_ptr<PipeServerInstance>> other = PipeServerInstance::Create(name_);
  ASSERT_TRUE(other);
  Result<std::unique_ptr<PipeConnection>> first = OpenPipe(name_);
  Result<std::unique_ptr<PipeConnection>> second = OpenPipe(name_);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  other->reset();  // one instance left, two clients queued
  ASSERT_TRUE(server_->connect());
  ASSERT_TRUE((*second)->write(Bytes(2, 's')));
  EXPECT_EQ(OpenPipe(name_).error().code, EBUSY);
  ASSERT_TRUE(server_->disconnect());
  EXPECT_EQ(OpenPipe(name_).error().code, EBUSY);  // the free instance has its client already
  ASSERT_TRUE(server_->connect());
  Result<PipeConnection::ReadResult> r = server_->connection()->read(buffer_);
  ASSERT_TRUE(r) << r.error().context;
  EXPECT_EQ(r->size, 2u);
  EXPECT_EQ(buffer_[0], std::byte{'s'});
}
