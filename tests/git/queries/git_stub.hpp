// Kept for the tests outside this folder that still include it by this name.
#pragma once
#include "support/git_recorder.hpp"
