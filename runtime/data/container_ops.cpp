// The container operations table lives apart from both containers so that
// either can be linked and initialised without the other.
#include "runtime/data/container_ops.h"

ContainerOperations ContainerOps;
