#include "pipe/pipe_client_methods.h"

#include "pipe/client_pipe.h"

bool PipeClientConnect(const Text& name) {
  return ClientPipeOpen(name);
}

bool PipeClientDisconnect(const Text& name) {
  return ClientPipeClose(name);
}

bool PipeClientWrite(const Text& name, const Text& text) {
  return ClientPipeWrite(name, text);
}

Text PipeClientRead(const Text& name) {
  Text text;
  (void)ClientPipeRead(name, text);  // a failed read leaves the text empty
  return text;
}
