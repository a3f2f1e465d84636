#include "shell/startup.h"

int main(int argc, char** argv) { return tidrex::shell::Main(argc, argv); }
