#include "net/transfer_session.h"

std::shared_ptr<InternetSession> OpenTransferSession() {
  auto session = InternetSession::Open(kHttpUserAgent);
  return session ? std::move(session.value()) : nullptr;
}
