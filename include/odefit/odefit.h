#pragma once

#include "odefit/version.h"
