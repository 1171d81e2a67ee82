#!/usr/bin/env python3
"""The translators' language tool run as translators run it: compiled files byte by byte, bad
sources refused with their line, never a half file, and every shipped file back to a source
that compiles to the same bytes.

LNGTOOL names the tool, LNG_SOURCES the folder of the shipped sources, LNG_SHIPPED the folder
of the shipped .lng files."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, '..', '..'))
TOOL = os.environ.get('LNGTOOL', os.path.join(TOP, 'tools', 'lngtool'))
SOURCES = os.environ.get('LNG_SOURCES', os.path.join(TOP, 'tray', 'texts'))
SHIPPED = os.environ.get('LNG_SHIPPED', os.path.join(TOP, 'build', 'dist', 'Texts'))
LANGUAGES = {'en': (False, 0), 'de': (False, 0), 'fr': (False, 0), 'ja': (True, 932)}


def run(*args):
    return subprocess.run([sys.executable, TOOL] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)


def header(wide, field):
    return struct.pack('<II20sB3sI4s', 0x4835C9B8, 2, bytes(20), 1 if wide else 0, bytes(3), field, bytes(4))


def record(number, data):
    return struct.pack('<HH', number, len(data)) + data


def records(data):
    """(number, bytes) of each record after the header."""
    out, at = [], 40
    while len(data) - at >= 4:
        number, length = struct.unpack('<HH', data[at:at + 4])
        out.append((number, data[at + 4:at + 4 + length]))
        at += 4 + length
    return out


class Folder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def write(self, name, data):
        with open(self.path(name), 'wb') as f:
            f.write(data.encode('utf-8') if isinstance(data, str) else data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), 'rb') as f:
            return f.read()

    def compile(self, source, *options):
        src = self.write('texts.txt', source)
        result = run('compile', src, self.path('out.lng'), *options)
        self.assertEqual(0, result.returncode, result.stderr.decode())
        return self.read('out.lng')


class CompileTest(Folder):
    def test_eight_bit_file_byte_for_byte(self):
        data = self.compile('# comment\n\n  codepage 1252\n1 = &Start Orvand...\n  # indented comment\n'
                            '5 = Fünf €\n2 =\n')
        self.assertEqual(header(False, 0) + record(1, b'&Start Orvand...') + record(5, 'Fünf €'.encode('cp1252'))
                         + record(2, b''), data)

    def test_utf16_file_byte_for_byte(self):
        data = self.compile('utf16 932\r\n5 = 終了(&X)\r\n')
        self.assertEqual(header(True, 932) + record(5, '終了(&X)'.encode('utf-16-le')), data)

    def test_header_field_is_the_paired_character_set_or_the_utf16_code_page(self):
        cases = [('codepage 1252', 0), ('codepage 1251', 204), ('codepage 932', 128), ('codepage 1250', 238),
                 ('codepage 936', 134), ('utf16 932', 932), ('utf16 1251', 1251), ('utf16 0', 0)]
        for line, field in cases:
            with self.subTest(line):
                data = self.compile(line + '\n1 = x\n')
                self.assertEqual(field, struct.unpack('<I', data[32:36])[0])
                self.assertEqual(1 if line.startswith('utf16') else 0, data[28])

    def test_forced_code_page_makes_an_eight_bit_file(self):
        data = self.compile('utf16 932\n5 = 終了(&X)\n', '--codepage', '932')
        self.assertEqual(header(False, 128) + record(5, '終了(&X)'.encode('cp932')), data)

    def test_escapes_and_trimmed_blanks(self):
        data = self.compile('codepage 1252\n1 =   \\sa\\\\b\\tc\\nd\\r\\u00E9 \\s  \n2 = x = y\n')
        self.assertEqual([(1, b' a\\b\tc\nd\r\xe9  '), (2, b'x = y')], records(data))

    def test_order_of_the_source_is_kept(self):
        data = self.compile('codepage 1252\n18 = b\n3 = a\n')
        self.assertEqual([18, 3], [n for n, _ in records(data)])

    def test_longest_texts_the_format_holds(self):
        data = self.compile('codepage 1252\n1 = %s\n' % ('a' * 65535))
        self.assertEqual(65535, len(records(data)[0][1]))
        data = self.compile('utf16 1252\n1 = %s\n' % ('a' * 2048))
        self.assertEqual(4096, len(records(data)[0][1]))


class BadSourceTest(Folder):
    CASES = [
        # (name, source, line, part of the message)
        ('number 0', 'codepage 1252\n1 = a\n0 = b\n', 3, 'unknown text number 0'),
        ('number 19', 'codepage 1252\n19 = b\n', 2, 'unknown text number 19'),
        ('a number given twice', 'codepage 1252\n4 = a\n# x\n4 = b\n', 4, 'text 4 is given twice (first on line 2)'),
        ('a character 1252 lacks', 'codepage 1252\n1 = ok\n2 = Жук\n', 3, "cannot hold 'Ж' (U+0416)"),
        ('a character 932 lacks in a utf16 file', 'utf16 932\n1 = café\n', 2, "code page 932 cannot hold 'é'"),
        ('an eight-bit text over 65535 bytes', 'codepage 1252\n\n1 = %s\n' % ('a' * 65536), 3, 'at most 65535'),
        ('a utf16 text over 4096 bytes', 'utf16 1252\n1 = %s\n' % ('a' * 2049), 2, 'at most 4096'),
        ('a NUL character', 'codepage 1252\n1 = a\\u0000b\n', 2, 'NUL'),
        ('text before the encoding', '1 = a\ncodepage 1252\n', 1, 'before the encoding line'),
        ('two encoding lines', 'codepage 1252\nutf16 932\n', 2, 'second encoding line'),
        ('a code page without a character set', 'codepage 437\n1 = a\n', 1, 'pairs with no character set'),
        ('a code page the tool does not know', 'utf16 12345\n1 = a\n', 1, 'unknown to this tool'),
        ('an unknown escape', 'codepage 1252\n1 = a\\qb\n', 2, 'unknown escape \\q'),
        ('a short \\u escape', 'codepage 1252\n1 = a\\u12\n', 2, 'four hexadecimal digits'),
        ('a backslash at the end', 'codepage 1252\n1 = a\\\n', 2, 'backslash at the end'),
        ('a line of no known kind', 'codepage 1252\n1 = a\nhello\n', 3, "expected 'NUMBER = TEXT'"),
        ('not UTF-8', b'codepage 1252\n1 = a\n2 = \xff\xfe\n', 3, 'not UTF-8'),
    ]

    def test_bad_sources_are_refused_with_their_line_and_write_nothing(self):
        for name, source, line, message in self.CASES:
            with self.subTest(name):
                src = self.write('bad.txt', source)
                out = self.path('bad.lng')
                result = run('compile', src, out)
                err = result.stderr.decode('utf-8')
                self.assertEqual(1, result.returncode, err)
                self.assertIn('%s:%d: ' % (src, line), err)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(out))
                self.assertEqual(['bad.txt'], os.listdir(self.folder.name))  # no temporary file left

    def test_every_error_of_a_source_is_named(self):
        src = self.write('bad.txt', 'codepage 1252\n0 = a\n2 = Ж\n2 = b\n')
        err = run('compile', src, self.path('bad.lng')).stderr.decode()
        for line in (2, 3, 4):
            self.assertIn('%s:%d: ' % (src, line), err)

    def test_a_refused_source_leaves_the_old_file_as_it_was(self):
        out = self.write('keep.lng', b'old contents')
        src = self.write('bad.txt', 'codepage 1252\n1 = good\n1 = again\n')
        self.assertEqual(1, run('compile', src, out).returncode)
        self.assertEqual(b'old contents', self.read('keep.lng'))

    def test_no_encoding_line_and_missing_texts(self):
        src = self.write('bad.txt', '# nothing\n')
        err = run('compile', src, self.path('x.lng')).stderr.decode()
        self.assertIn('no encoding line', err)
        src = self.write('part.txt', 'codepage 1252\n1 = a\n2 = b\n')
        self.assertEqual(0, run('compile', src, self.path('part.lng')).returncode)
        result = run('compile', '--all', src, self.path('all.lng'))
        self.assertEqual(1, result.returncode)
        self.assertIn('texts missing: 3, 4, 5', result.stderr.decode())
        self.assertFalse(os.path.exists(self.path('all.lng')))

    def test_an_output_that_cannot_be_written(self):
        src = self.write('ok.txt', 'codepage 1252\n1 = a\n')
        result = run('compile', src, self.path(os.path.join('no such folder', 'x.lng')))
        self.assertEqual(1, result.returncode)
        self.assertIn('cannot be written', result.stderr.decode())

    def test_wrong_usage(self):
        self.assertEqual(2, run().returncode)
        self.assertEqual(2, run('compile', 'only-one-argument').returncode)


class DumpTest(Folder):
    def round_trip(self, data, *options):
        self.write('in.lng', data)
        dumped = run('dump', self.path('in.lng'), *options)
        self.assertEqual(0, dumped.returncode, dumped.stderr.decode())
        self.write('dumped.txt', dumped.stdout)
        again = run('compile', self.path('dumped.txt'), self.path('again.lng'))
        self.assertEqual(0, again.returncode, again.stderr.decode())
        return dumped, self.read('again.lng')

    def test_escapes_blanks_and_odd_characters_come_back_exactly(self):
        texts = [(1, ' lead'), (2, 'trail '), (3, 'a\\b'), (4, 'line\nbreak\r\ttab'), (5, 'nb\u00a0sp'),
                 (6, '\u0001\u007f'), (7, ''), (8, ' '), (9, '€ Ä ÿ')]
        data = header(False, 0) + b''.join(record(n, t.encode('cp1252')) for n, t in texts)
        dumped, again = self.round_trip(data)
        self.assertEqual(data, again)
        self.assertIn('\n# 4: ', dumped.stdout.decode('utf-8'))
        self.assertIn('\ncodepage 1252\n', dumped.stdout.decode('utf-8'))

    def test_utf16_file_with_characters_beyond_the_first_plane(self):
        data = header(True, 0) + record(1, '😀 \u3000x'.encode('utf-16-le')) + record(18, 'ok'.encode('utf-16-le'))
        self.assertEqual(data, self.round_trip(data)[1])

    def test_eight_bit_file_read_in_the_code_page_of_its_character_set(self):
        data = header(False, 204) + record(1, 'Жук'.encode('cp1251'))
        dumped, again = self.round_trip(data)
        self.assertIn('1 = Жук', dumped.stdout.decode('utf-8'))
        self.assertEqual(data, again)

    def test_what_the_source_cannot_keep_is_warned_about(self):
        data = (header(False, 0) + record(19, b'no slot') + record(1, b'a') + record(1, b'b')
                + record(2, b'c') + b'\x01')
        self.write('odd.lng', data)
        result = run('dump', self.path('odd.lng'))
        err = result.stderr.decode()
        self.assertEqual(0, result.returncode, err)
        self.assertIn('text number 19 has no slot', err)
        self.assertIn('text 1 again', err)
        self.assertIn('1 bytes after the last record', err)
        self.assertEqual(b'1 = a', [l for l in result.stdout.splitlines() if l.startswith(b'1 =')][0])

    def test_files_that_are_no_language_files(self):
        cases = [
            ('short', header(False, 0)[:39], 'shorter than the 40-byte header'),
            ('magic', b'\0' + header(False, 0)[1:], 'the magic is'),
            ('version', header(False, 0)[:4] + b'\x03\0\0\0' + header(False, 0)[8:], 'format version 3'),
            ('cut text', header(False, 0) + struct.pack('<HH', 1, 9) + b'abc', 'ends after 3 of its 9 bytes'),
            ('unknown character set', header(False, 77) + record(1, b'a'), 'name one with --codepage'),
            ('undefined byte', header(False, 0) + record(1, b'\x81'), 'byte 0x81 is no character of code page 1252'),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                self.write('bad.lng', data)
                result = run('dump', self.path('bad.lng'), self.path('bad.txt'))
                self.assertEqual(1, result.returncode)
                self.assertIn(message, result.stderr.decode())
                self.assertFalse(os.path.exists(self.path('bad.txt')))

    def test_code_page_named_for_a_file_with_an_unknown_character_set(self):
        data = header(False, 77) + record(1, 'Жук'.encode('cp1251'))
        self.write('in.lng', data)
        result = run('dump', self.path('in.lng'), '--codepage', '1251')
        self.assertEqual(0, result.returncode, result.stderr.decode())
        self.assertIn('1 = Жук', result.stdout.decode('utf-8'))
        self.assertIn('does not pair with code page 1251', result.stderr.decode())


class ShippedTest(Folder):
    def test_every_shipped_file_comes_back_to_a_source_of_the_same_bytes(self):
        for code, (wide, field) in LANGUAGES.items():
            with self.subTest(code):
                shipped = os.path.join(SHIPPED, 'ORVTray%s.lng' % code)
                with open(shipped, 'rb') as f:
                    data = f.read()
                self.assertEqual(field, struct.unpack('<I', data[32:36])[0])
                self.assertEqual(1 if wide else 0, data[28])
                self.assertEqual(list(range(1, 19)), sorted(n for n, _ in records(data)))
                source = self.path('%s.txt' % code)
                dumped = run('dump', shipped, source)
                self.assertEqual(0, dumped.returncode, dumped.stderr.decode())
                self.assertEqual(b'', dumped.stderr)  # nothing the source could not keep
                rebuilt = self.path('%s.lng' % code)
                compiled = run('compile', '--all', source, rebuilt)
                self.assertEqual(0, compiled.returncode, compiled.stderr.decode())
                self.assertEqual(data, self.read('%s.lng' % code))

    def test_shipped_files_are_what_their_sources_compile_to(self):
        for code in LANGUAGES:
            with self.subTest(code):
                compiled = run('compile', '--all', os.path.join(SOURCES, '%s.txt' % code), self.path('x.lng'))
                self.assertEqual(0, compiled.returncode, compiled.stderr.decode())
                with open(os.path.join(SHIPPED, 'ORVTray%s.lng' % code), 'rb') as f:
                    self.assertEqual(f.read(), self.read('x.lng'))

    def test_web_address_is_under_the_reserved_example_domain(self):
        for code, (wide, _) in LANGUAGES.items():
            with self.subTest(code):
                with open(os.path.join(SHIPPED, 'ORVTray%s.lng' % code), 'rb') as f:
                    texts = dict(records(f.read()))
                address = texts[10].decode('utf-16-le' if wide else 'cp1252')
                self.assertEqual('http://www.example.com/orvand/%s/' % code, address)


if __name__ == '__main__':
    unittest.main(verbosity=1)
