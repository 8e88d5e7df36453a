// Process entry: the show is one App object; its Run result is the exit status.

#include "app/app.h"

int main(int argc, char** argv) {
  int status = 0;
  {
    App app(argc, argv);
    status = app.Run();
  }
  return status;
}
