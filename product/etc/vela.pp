Vela 4.0-5 SELinux policy module (placeholder: the module is built outside this project).
