/* examples/consumer/consumer.c - the smallest user of both installed libraries: versions and a CRC-32. */
#include <keldc.h>
#include <kelch.h>
#include <stdio.h>

int main(void) {
    const Kel8u text[] = "123456789";
    Kel32u crc = 0;
    if (kelsCRC32_8u(text, 9, &crc) != kelStatusOk || crc != 0xCBF43926u) {
        fprintf(stderr, "unexpected CRC-32 %08x\n", (unsigned)crc);
        return 1;
    }
    printf("%s and %s: crc32(\"123456789\") = %08x\n", keldcGetLibVersion()->name, kelchGetLibVersion()->name,
           (unsigned)crc);
    return 0;
}
