/* 32-bit Windows: calls a function with N argument words and restores the stack pointer
   from this routine's own frame afterwards, so the stack is right whether the function
   popped its arguments (__stdcall) or left them (__cdecl). Notes how far the stack pointer
   stood from where the arguments began after the call: 0 after __stdcall, 4 N after __cdecl.

   int __cdecl krvCallWithWords (void (*function)(), const uint32_t* words, int count,
                                 int32_t* distance)                                      */
    .text
    .globl _krvCallWithWords
    .def _krvCallWithWords; .scl 2; .type 32; .endef
_krvCallWithWords:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %ebx

    movl 12(%ebp), %esi         /* words */
    movl 16(%ebp), %ecx         /* count */

    /* The function gets its arguments on a 16-byte boundary, as a direct call leaves them. */
    leal 0(,%ecx,4), %eax
    movl %esp, %edx
    subl %eax, %edx
    andl $-16, %edx
    addl %eax, %edx
    movl %edx, %esp
    movl %esp, %ebx             /* where the arguments begin; ebx survives the call */

1:  testl %ecx, %ecx            /* the last word first */
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b

2:  call *8(%ebp)               /* eax: the function's result, kept to the end */

    movl %ebx, %ecx
    subl %esp, %ecx             /* the arguments the function left behind */
    movl 20(%ebp), %edx
    movl %ecx, (%edx)

    leal -8(%ebp), %esp         /* from the frame, whatever the function did */
    popl %ebx
    popl %esi
    popl %ebp
    ret
