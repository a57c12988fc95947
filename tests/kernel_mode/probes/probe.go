// The Go counterpart of probe.c for the kernel-mode tests: Go programs make their system calls
// themselves, so only catching in the kernel reaches them.
//
//	probe HOST TCP_PORT UDP_PORT
//
// Prints the same lines as probe.c for each line read from standard input.
package main

import (
	"bufio"
	"errors"
	"fmt"
	"net"
	"os"
	"syscall"
	"time"
)

func report(what string, err error) {
	var timeout net.Error
	switch {
	case errors.Is(err, syscall.ECONNREFUSED), errors.Is(err, syscall.ECONNRESET):
		fmt.Printf("%s refused\n", what)
	case errors.As(err, &timeout) && timeout.Timeout():
		fmt.Printf("%s timeout\n", what)
	default:
		fmt.Printf("%s error %v\n", what, err)
	}
}

func peer(what string, address net.Addr, reply []byte) {
	host, port, _ := net.SplitHostPort(address.String())
	fmt.Printf("%s %s %s %s\n", what, host, port, reply)
}

func tcp(target string) {
	conn, err := net.DialTimeout("tcp", target, 10*time.Second)
	if err != nil {
		report("tcp", err)
		return
	}
	defer conn.Close()
	conn.SetDeadline(time.Now().Add(10 * time.Second))
	reply := make([]byte, 64)
	if _, err = conn.Write([]byte("ping")); err == nil {
		var n int
		if n, err = conn.Read(reply); err == nil {
			peer("tcp", conn.RemoteAddr(), reply[:n])
			return
		}
	}
	report("tcp", err)
}

func udp(target string) {
	remote, _ := net.ResolveUDPAddr("udp", target)
	conn, err := net.ListenUDP("udp", nil)
	if err != nil {
		report("udp", err)
		return
	}
	defer conn.Close()
	reply := make([]byte, 64)
	// Datagrams may be lost: up to three tries, as a program using UDP would retry.
	for try := 0; try < 3; try++ {
		conn.SetDeadline(time.Now().Add(4 * time.Second))
		if _, err = conn.WriteToUDP([]byte("udp"), remote); err != nil {
			break
		}
		var n int
		var from *net.UDPAddr
		if n, from, err = conn.ReadFromUDP(reply); err == nil {
			peer("udp", from, reply[:n])
			return
		}
	}
	report("udp", err)
}

func connectedUdp(target string) {
	conn, err := net.Dial("udp", target)
	if err != nil {
		report("cudp", err)
		return
	}
	defer conn.Close()
	reply := make([]byte, 64)
	for try := 0; try < 3; try++ {
		conn.SetDeadline(time.Now().Add(4 * time.Second))
		if _, err = conn.Write([]byte("cudp")); err != nil {
			break
		}
		var n int
		if n, err = conn.Read(reply); err == nil {
			peer("cudp", conn.RemoteAddr(), reply[:n])
			return
		}
	}
	report("cudp", err)
}

func main() {
	if len(os.Args) != 4 {
		fmt.Fprintln(os.Stderr, "usage: probe HOST TCP_PORT UDP_PORT")
		os.Exit(2)
	}
	host := os.Args[1]
	fmt.Println("ready")
	input := bufio.NewScanner(os.Stdin)
	for input.Scan() {
		tcp(net.JoinHostPort(host, os.Args[2]))
		udp(net.JoinHostPort(host, os.Args[3]))
		connectedUdp(net.JoinHostPort(host, os.Args[3]))
		fmt.Println("done")
	}
}
