// modemhost: runs a modem in this process and bridges its serial port.
// Until the controller can answer on its serial port, the program only reports that.
#include <cstdio>

int main()
{
    std::printf("modemhost: no modem is built yet\n");
    return 0;
}
