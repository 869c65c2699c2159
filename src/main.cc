#include <cstdio>

#include "driver.h"

int main(int argc, char** argv) {
  return run_iconweld(argc, argv, stdout);
}
