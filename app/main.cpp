#include "screens/navigation.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  tidrex::screens::ConnectToShell();
  return tidrex::shell::Main(argc, argv);
}
