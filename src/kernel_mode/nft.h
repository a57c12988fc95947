// Runs nftables command text through libnftables, in the caller's network namespace.
// Not thread-safe: one Nft per thread.
#pragma once

#include <memory>
#include <string>

#include "base/result.h"

struct nft_ctx;

class Nft {
 public:
  [[nodiscard]] static Result<Nft> Create();

  // Runs `script` as one transaction; the command's output (for list commands) or an error
  // holding nftables' message.
  [[nodiscard]] Result<std::string> Run(const std::string& script);

 private:
  struct Free {
    void operator()(nft_ctx* ctx) const;
  };
  explicit Nft(nft_ctx* ctx) : ctx_(ctx) {}
  std::unique_ptr<nft_ctx, Free> ctx_;
};
