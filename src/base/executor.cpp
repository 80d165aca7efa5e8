#include "base/executor.hpp"
