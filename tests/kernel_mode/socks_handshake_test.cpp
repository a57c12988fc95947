// The relay's SOCKS5 handshake, fed as a proxy answers: in pieces, refusing, or sending more
// than its answer (the destination's first bytes must stay unread).
#include "kernel_mode/socks_handshake.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

#include "lsp/socks5.h"

namespace {

sockaddr_in Target() {
  sockaddr_in in4{};
  in4.sin_family = AF_INET;
  in4.sin_port = htons(8080);
  inet_pton(AF_INET, "192.0.2.10", &in4.sin_addr);
  return in4;
}

const sockaddr* Sa(const sockaddr_in& a) {
  return reinterpret_cast<const sockaddr*>(&a);
}

// Feeds `answer` one byte at a time, as slowly as a proxy may send it, never more than wanted.
SocksHandshake::State FeedSlowly(SocksHandshake& h, const std::vector<uint8_t>& answer,
                                 size_t& taken) {
  taken = 0;
  while (h.wanted() > 0 && taken < answer.size()) h.Feed({&answer[taken++], 1});
  return h.state();
}

const std::vector<uint8_t> kSucceeded = {5, 0, 0, 1, 10, 0, 0, 1, 0x1f, 0x90};

TEST(SocksHandshakeTest, SendsGreetingAuthAndRequestAtOnceWithTheToken) {
  sockaddr_in target = Target();
  SocksHandshake h(socks5::kCommandConnect, Sa(target), "tok");
  const std::vector<uint8_t> expected = {5, 1, 2,                                        // greeting
                                         1, 3, 't', 'o', 'k', 3, 't', 'o', 'k',          // auth
                                         5, 1, 0,   1,   192, 0, 2,   10,  0x1f, 0x90};  // CONNECT
  EXPECT_EQ(h.request(), expected);
  std::vector<uint8_t> answer = {5, 2, 1, 0};
  answer.insert(answer.end(), kSucceeded.begin(), kSucceeded.end());
  answer.insert(answer.end(), {'H', 'T', 'T', 'P'});  // the destination's first bytes
  size_t taken = 0;
  EXPECT_EQ(FeedSlowly(h, answer, taken), SocksHandshake::State::kSucceeded);
  EXPECT_EQ(taken, answer.size() - 4);
  const auto& bound = reinterpret_cast<const sockaddr_in&>(h.bound());
  EXPECT_EQ(bound.sin_family, AF_INET);
  EXPECT_EQ(ntohs(bound.sin_port), 8080);
}

TEST(SocksHandshakeTest, EmptyTokenOffersNoAuthentication) {
  sockaddr_in target = Target();
  SocksHandshake h(socks5::kCommandUdpAssociate, Sa(target), "");
  EXPECT_EQ(std::vector<uint8_t>(h.request().begin(), h.request().begin() + 4),
            (std::vector<uint8_t>{5, 1, 0, 5}));
  std::vector<uint8_t> answer = {5, 0};
  answer.insert(answer.end(), kSucceeded.begin(), kSucceeded.end());
  size_t taken = 0;
  EXPECT_EQ(FeedSlowly(h, answer, taken), SocksHandshake::State::kSucceeded);
  EXPECT_EQ(taken, answer.size());
}

TEST(SocksHandshakeTest, RefusalsAndMalformedAnswersRefuse) {
  const std::vector<std::vector<uint8_t>> answers = {
      {5, 0xff},                                   // no acceptable method
      {5, 0},                                      // a method not offered
      {4, 2},                                      // another version
      {5, 2, 1, 1},                                // token refused
      {5, 2, 1, 0, 5, 5, 0, 1, 0, 0, 0, 0, 0, 0},  // connection refused by the destination
      {5, 2, 1, 0, 5, 0, 0, 9, 0, 0},              // unknown address type
      {5, 2, 1, 0, 5, 0, 1, 1, 0, 0, 0, 0, 0, 0},  // reserved byte set
  };
  for (size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    sockaddr_in target = Target();
    SocksHandshake h(socks5::kCommandConnect, Sa(target), "tok");
    size_t taken = 0;
    EXPECT_EQ(FeedSlowly(h, answers[i], taken), SocksHandshake::State::kRefused);
    EXPECT_EQ(h.wanted(), 0u);
  }
}

TEST(SocksHandshakeTest, DomainNameReplyIsReadWhole) {
  sockaddr_in target = Target();
  SocksHandshake h(socks5::kCommandConnect, Sa(target), "tok");
  std::vector<uint8_t> answer = {5, 2, 1, 0, 5, 0, 0, 3, 4, 'h', 'o', 's', 't', 0, 80};
  size_t taken = 0;
  EXPECT_EQ(FeedSlowly(h, answer, taken), SocksHandshake::State::kSucceeded);
  EXPECT_EQ(taken, answer.size());
  EXPECT_EQ(h.bound().ss_family, AF_UNSPEC);
}

TEST(SocksHandshakeTest, TokenTooLongForTheProtocolSendsNothing) {
  sockaddr_in target = Target();
  SocksHandshake h(socks5::kCommandConnect, Sa(target), std::string(256, 'x'));
  EXPECT_TRUE(h.request().empty());
  EXPECT_EQ(h.state(), SocksHandshake::State::kRefused);
}

}  // namespace
