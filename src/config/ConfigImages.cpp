#include "config/ConfigFormUnit.h"

#include "link/Z960Port.h"

namespace Config {

SetupImages setupImagesOf(Z960Port &port)
{
    return SetupImages{&port.configImage, &port.calImage, &port.basicCalImage};
}

} // namespace Config
