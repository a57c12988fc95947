#include "kernel_mode/nft.h"

#include <nftables/libnftables.h>

void Nft::Free::operator()(nft_ctx* ctx) const {
  nft_ctx_free(ctx);
}

Result<Nft> Nft::Create() {
  nft_ctx* ctx = nft_ctx_new(NFT_CTX_DEFAULT);
  if (ctx == nullptr) return Error{ENOMEM, "nft_ctx_new"};
  Nft nft(ctx);
  if (nft_ctx_buffer_output(ctx) != 0 || nft_ctx_buffer_error(ctx) != 0)
    return Error{ENOMEM, "nft_ctx_buffer_output"};
  return nft;
}

Result<std::string> Nft::Run(const std::string& script) {
  int status = nft_run_cmd_from_buffer(ctx_.get(), script.c_str());
  std::string output = nft_ctx_get_output_buffer(ctx_.get());
  std::string error = nft_ctx_get_error_buffer(ctx_.get());
  if (status != 0) return Error{EINVAL, "nft: " + error};
  return output;
}
