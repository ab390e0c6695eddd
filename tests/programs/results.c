/* Reads two numbers from in.txt, writes their sum to out.txt and a note to
   note.txt; with LINKED, out.txt is a link to in.txt instead. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    int a = 0, b = 0;
    FILE *in = fopen("in.txt", "r");
    if (!in || fscanf(in, "%d %d", &a, &b) != 2)
        return 2;
    fclose(in);
    FILE *note = fopen("note.txt", "w");
    if (!note || fputs("scratch\n", note) < 0 || fclose(note) != 0)
        return 3;
#ifdef LINKED
    return symlink("in.txt", "out.txt") == 0 ? 0 : 4;
#else
    FILE *out = fopen("out.txt", "w");
    if (!out || fprintf(out, "%d\n", a + b) < 0)
        return 4;
    return fclose(out) == 0 ? 0 : 5;
#endif
}
