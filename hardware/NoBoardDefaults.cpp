// The host build's defaults: a machine without the board maker's components. The firmware answers no
// call and the port-I/O library is never there.
#include "hardware/FirmwareTransport.h"
#include "hardware/PortIo.h"

namespace ovled {

IFirmwareTransport& DefaultFirmwareTransport()
{
    static NoFirmwareTransport transport;
    return transport;
}

IPortIo& DefaultPortIo()
{
    static NoPortIo ports;
    return ports;
}

} // namespace ovled
