#include "UserService.hpp"

int main(int argc, char** argv) { return wexla::app::runUserService(argc, argv); }
