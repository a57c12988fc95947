#include "app/base_app.h"

namespace {
CBaseApp theApp;
}

int main(int argc, char** argv) {
  return theApp.Run(argc, argv);
}
