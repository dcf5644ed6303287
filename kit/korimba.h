/* Korimba sample kit: the main header. */
#ifndef KORIMBA_H
#define KORIMBA_H
int korimba_version(void);
#endif
