#include "serial/SerPortList.h"

void GetComPortNames(QStringList &Value, const Platform::PortScanRoots &roots)
{
    Value.clear();
    for (const int number : Platform::presentPorts(roots))
        Value << QStringLiteral("COM%1").arg(number);
}
