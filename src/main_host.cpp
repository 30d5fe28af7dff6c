// tarnwick (Linux): the application core on the simulated world, with a console standing in for
// the notification area. The wiring is host_app/linux_program; this is the process around it.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "host_app/linux_program.h"

int main(int argc, char** argv) {
  tw::host::LinuxProgramOptions options;
  for (int i = 0; i < argc; ++i) {
    if (i) options.commandLine += ' ';
    options.commandLine += argv[i];
  }
  tw::host::LinuxProgram program(std::move(options));

  // The end of standard input quits the app, as "quit" would.
  tw::host::Console& console = program.console();
  std::thread([&console] {
    std::string line;
    while (std::getline(std::cin, line)) console.execute(line);
    console.quitWhenReady();
  }).detach();

  int code = program.run();
  // As on Windows, the server's threads end with the process; nothing waits for them.
  std::fflush(stdout);
  std::_Exit(code);
}
