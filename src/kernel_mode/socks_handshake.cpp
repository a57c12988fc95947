#include "kernel_mode/socks_handshake.h"

#include "lsp/socks5.h"

namespace {
constexpr uint8_t kMethodNone = 0;
}

SocksHandshake::SocksHandshake(uint8_t command, const sockaddr* target, std::string_view token)
    : with_token_(!token.empty()) {
  uint8_t out[3 + 3 + 2 * 255 + socks5::kMaxReplySize];
  size_t size = 0;
  out[size++] = socks5::kVersion;
  out[size++] = 1;
  out[size++] = with_token_ ? socks5::kMethodUserPassword : kMethodNone;
  if (with_token_) {
    size_t auth = socks5::BuildAuthRequest(std::span(out).subspan(size), token, token);
    if (auth == 0) {
      state_ = State::kRefused;
      return;
    }
    size += auth;
  }
  size_t request = socks5::BuildRequest(std::span(out).subspan(size), command, target);
  if (request == 0) {
    state_ = State::kRefused;
    return;
  }
  size += request;
  request_.assign(out, out + size);
}

size_t SocksHandshake::wanted() const {
  return state_ == State::kRunning ? need_ - in_.size() : 0;
}

SocksHandshake::State SocksHandshake::Feed(std::span<const uint8_t> bytes) {
  if (state_ != State::kRunning) return state_;
  in_.insert(in_.end(), bytes.begin(), bytes.end());
  if (in_.size() < need_) return state_;
  switch (step_) {
    case Step::kMethod:
      if (in_[0] != socks5::kVersion ||
          in_[1] != (with_token_ ? socks5::kMethodUserPassword : kMethodNone))
        return state_ = State::kRefused;
      step_ = with_token_ ? Step::kAuth : Step::kReplyHead;
      need_ = with_token_ ? 2 : 5;
      break;
    case Step::kAuth:
      if (socks5::ParseAuthStatus(in_) != socks5::Parse::kOk) return state_ = State::kRefused;
      step_ = Step::kReplyHead;
      need_ = 5;
      break;
    case Step::kReplyHead: {
      size_t whole = socks5::ExpectedReplySize(in_);
      if (whole == 0) return state_ = State::kRefused;
      step_ = Step::kReplyRest;
      need_ = whole;
      in_.reserve(whole);
      return Feed({});
    }
    case Step::kReplyRest: {
      socks5::Reply reply;
      if (socks5::ParseReply(in_, reply) != socks5::Parse::kOk ||
          reply.code != socks5::kReplySucceeded)
        return state_ = State::kRefused;
      bound_ = reply.bound;
      step_ = Step::kDone;
      return state_ = State::kSucceeded;
    }
    case Step::kDone:
      break;
  }
  in_.clear();
  return state_;
}
